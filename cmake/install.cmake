# Installing: `cmake --install BUILD --prefix P` lays down the shared libraries (versioned), the
# public headers, monodoc and capstamp with monodoc's manual page, pkg-config files and CMake
# package files. The installed tree does not depend on where it lies: the libraries find each
# other beside themselves, the programs in ../lib, and the package files compute the prefix from
# their own place. Host build only (the platform stand-ins are host-side).
#
# A new library joins MONO_INSTALL_LIBRARIES (and, when it is part of a package's link line,
# that package's list below); a new public header joins its package's header list. The install
# test (scripts/check-install.sh) fails on a shared library of the build that is not installed,
# on an installed header that does not compile alone, and on any change of the exported symbols.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Every shared library that monodoc, the plug-ins and programs over the APIs load.
set(MONO_INSTALL_LIBRARIES monocodec pagefiler qelinterp kvsup kvext kvtf kvraster tfxbridge cfgkeep pdflib pdflib2qel
  kvzip qellibxml kvimgdec kvfont kvxml xpswrite safeout)
# The packages' link lines: libmonocodec alone; libpagefiler with the platform it works on.
set(MONO_MONOCODEC_LIBRARIES monocodec)
set(MONO_PAGEFILER_LIBRARIES pagefiler qelinterp kvsup kvext kvtf tfxbridge pdflib kvzip qellibxml kvimgdec kvfont kvxml
  safeout)

# Public headers, by the folder they go to under include/. libmonocodec: the engine API with its
# option blocks and caller tables, the decoder API, the status codes and texts, the framed page
# buffers.
set(MONO_MONOCODEC_HEADERS
  src/lib/include/mono_export.h
  src/lib/include/vlt_status.h
  src/lib/include/vlt_api_types.h
  src/lib/include/vlt_api_options.h
  src/lib/include/tok_params.h
  src/lib/monocodec/api/vlt_api.h
  src/lib/monocodec/api/vlt_api_noise.h
  src/lib/monocodec/api/vlt_api_deskew.h
  src/lib/monocodec/api/vlt_decoder.h
  src/lib/monocodec/api/vlt_pagebuf.h
  src/lib/monocodec/api/vlt_pagebuf_desc.h)
# libpagefiler: the object types and their exported entry points, transform specifications,
# the back ends' exported entry points, the zip utility.
set(MONO_PAGEFILER_HEADERS
  src/lib/pagefiler/core/dio.h
  src/lib/pagefiler/core/dio_transform.h
  src/lib/pagefiler/core/dio_backends.h
  src/lib/pagefiler/core/dio_membuf.h
  src/lib/pagefiler/core/dio_pdf.h
  src/lib/pagefiler/tiff/tio.h
  src/lib/pagefiler/zip/zzip.h
  src/lib/pagefiler/pdf/pdf_write.h
  src/lib/pagefiler/pdf/pdf_read.h
  src/lib/pagefiler/core/dio_text.h
  src/lib/pagefiler/xps/xps_archive.h
  src/lib/pagefiler/xps/xps_names.h
  src/lib/pagefiler/xps/xps_fonts.h
  src/lib/pagefiler/xps/xps_image.h
  src/lib/pagefiler/xps/xps_package.h
  src/lib/pagefiler/xps/xps_opcrel.h
  src/lib/pagefiler/xps/xps_sign.h
  src/lib/safeout/safe_output.h)
# The platform stand-ins: the interface every plug-in is written against (each folder's include).
file(GLOB MONO_PLATFORM_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/*/include/*.h)

set(MONO_INSTALL_PKGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(MONO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake)
# The way from a folder under the prefix back to the prefix, so that package files work wherever
# the tree is installed.
function(mono_path_to_prefix dir out)
  string(REGEX REPLACE "[^/]+" ".." up "${dir}")
  set(${out} "${up}" PARENT_SCOPE)
endfunction()

# Hidden visibility keeps our own C++ names in; the version script also keeps in what the standard
# library's and qpdf's templates instantiate in a library (their headers make them visible).
foreach(lib IN LISTS MONO_INSTALL_LIBRARIES)
  set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
  target_link_options(${lib} PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/exports.map)
  set_property(TARGET ${lib} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/exports.map)
endforeach()
install(TARGETS ${MONO_INSTALL_LIBRARIES} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The interpreter reads type descriptions beside its library.
install(FILES ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}/pagefiler.ucm DESTINATION ${CMAKE_INSTALL_LIBDIR})

file(RELATIVE_PATH MONO_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(monodoc capstamp PROPERTIES INSTALL_RPATH "$ORIGIN/${MONO_BIN_TO_LIB}")
install(TARGETS monodoc capstamp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# monodoc's command modules, loaded by their plain names from beside the interpreter library.
foreach(module monodoc_engine monodoc_documents)
  set_target_properties(${module} PROPERTIES INSTALL_RPATH "$ORIGIN")
  target_link_options(${module} PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/exports.map)
  set_property(TARGET ${module} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/exports.map)
endforeach()
install(TARGETS monodoc_engine monodoc_documents LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(FILES ${MONO_MONOCODEC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/monocodec)
install(FILES ${MONO_PAGEFILER_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pagefiler)
install(FILES ${MONO_PLATFORM_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/monoplatform)

# monodoc's manual page, made from its help texts whenever the runner changes.
set(MONO_MAN_PAGE ${CMAKE_BINARY_DIR}/man/monodoc.1)
add_custom_command(OUTPUT ${MONO_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -DMONODOC=$<TARGET_FILE:monodoc> -DOUTPUT=${MONO_MAN_PAGE}
    -DVERSION=${PROJECT_VERSION} -P ${CMAKE_SOURCE_DIR}/cmake/manpage.cmake
  DEPENDS monodoc ${CMAKE_SOURCE_DIR}/cmake/manpage.cmake
  COMMENT "Writing monodoc's manual page from its help")
add_custom_target(monodoc_man ALL DEPENDS ${MONO_MAN_PAGE})
install(FILES ${MONO_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# pkg-config and CMake package files, one pair per package.
mono_path_to_prefix(${MONO_INSTALL_PKGDIR} MONO_PKG_TO_PREFIX)
mono_path_to_prefix(${MONO_INSTALL_CMAKEDIR}/monocodec MONO_CMAKE_TO_PREFIX)
# requires: packages whose types the installed headers use in the API (their cflags and libs);
# private: packages the headers include only to compile (their cflags; their libs only when
# linking statically), as qpdf and libzip list theirs.
function(mono_install_package name description includes requires private)
  string(TOUPPER ${name} upper)
  set(libs ${MONO_${upper}_LIBRARIES})
  # pkg-config
  set(cflags "")
  foreach(dir IN LISTS includes)
    string(APPEND cflags " -I\${includedir}/${dir}")
  endforeach()
  list(TRANSFORM libs PREPEND "-l" OUTPUT_VARIABLE link)
  list(JOIN link " " link)
  list(JOIN requires " " pc_requires)
  list(JOIN private " " pc_private)
  file(WRITE ${CMAKE_BINARY_DIR}/pkg/${name}.pc
    "prefix=\${pcfiledir}/${MONO_PKG_TO_PREFIX}\n"
    "libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}\n"
    "includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}\n\n"
    "Name: ${name}\n"
    "Description: ${description}\n"
    "Version: ${PROJECT_VERSION}\n"
    "Requires: ${pc_requires}\n"
    "Requires.private: ${pc_private}\n"
    "Libs: -L\${libdir} ${link}\n"
    "Cflags:${cflags}\n")
  install(FILES ${CMAKE_BINARY_DIR}/pkg/${name}.pc DESTINATION ${MONO_INSTALL_PKGDIR})
  # CMake: one imported target per library, ${name}::${name} for the package's own, which
  # carries the rest of its link line and its include folders.
  set(config "# ${description}\ninclude(CMakeFindDependencyMacro)\n")
  foreach(dep IN LISTS requires)
    if(dep STREQUAL "monocodec")
      string(APPEND config "find_dependency(monocodec ${PROJECT_VERSION} EXACT)\n")
    elseif(dep MATCHES "^libpng")
      string(APPEND config "find_dependency(PNG)\n")
    endif()
  endforeach()
  # The private packages' include folders and definitions, for compiling only.
  if(private)
    list(JOIN private " " spaced)
    string(APPEND config
      "find_dependency(PkgConfig)\n"
      "pkg_check_modules(_mono_${name}_private REQUIRED QUIET ${spaced})\n")
  endif()
  string(APPEND config "get_filename_component(_mono_prefix \"\${CMAKE_CURRENT_LIST_DIR}/${MONO_CMAKE_TO_PREFIX}\" ABSOLUTE)\n")
  set(incdirs "")
  foreach(dir IN LISTS includes)
    list(APPEND incdirs "\${_mono_prefix}/${CMAKE_INSTALL_INCLUDEDIR}/${dir}")
  endforeach()
  set(deps "")
  foreach(dep IN LISTS requires)
    if(dep STREQUAL "monocodec")
      list(APPEND deps monocodec::monocodec)
    elseif(dep MATCHES "^libpng")
      list(APPEND deps PNG::PNG)
    endif()
  endforeach()
  set(others ${libs})
  list(REMOVE_ITEM others ${name})
  foreach(lib IN LISTS libs)
    set(file "lib${lib}.so.${PROJECT_VERSION_MAJOR}")
    string(APPEND config
      "if(NOT TARGET ${name}::${lib})\n"
      "  add_library(${name}::${lib} SHARED IMPORTED)\n"
      "  set_target_properties(${name}::${lib} PROPERTIES\n"
      "    IMPORTED_LOCATION \"\${_mono_prefix}/${CMAKE_INSTALL_LIBDIR}/${file}\"\n"
      "    IMPORTED_SONAME \"${file}\")\n"
      "endif()\n")
  endforeach()
  list(TRANSFORM others PREPEND "${name}::")
  set(interface ${others} ${deps})
  string(APPEND config
    "set_target_properties(${name}::${name} PROPERTIES\n"
    "  INTERFACE_INCLUDE_DIRECTORIES \"${incdirs}\"\n"
    "  INTERFACE_LINK_LIBRARIES \"${interface}\")\n"
    "unset(_mono_prefix)\n")
  if(private)
    string(APPEND config
      "set_property(TARGET ${name}::${name} APPEND PROPERTY INTERFACE_INCLUDE_DIRECTORIES \${_mono_${name}_private_INCLUDE_DIRS})\n"
      "set_property(TARGET ${name}::${name} APPEND PROPERTY INTERFACE_COMPILE_OPTIONS \${_mono_${name}_private_CFLAGS_OTHER})\n")
  endif()
  file(WRITE ${CMAKE_BINARY_DIR}/pkg/${name}Config.cmake "${config}")
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/pkg/${name}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/pkg/${name}Config.cmake ${CMAKE_BINARY_DIR}/pkg/${name}ConfigVersion.cmake
    DESTINATION ${MONO_INSTALL_CMAKEDIR}/${name})
endfunction()

mono_install_package(monocodec "JBIG2 codec: the token engine's encoder API and the decoder API" monocodec "" "")
# The XPS headers include libxml2's and xmlsec1's (whose definitions must match the library's).
mono_install_package(pagefiler "Document readers and writers as interpreter object types, with the platform they run on"
  "pagefiler;monoplatform" "monocodec;libpng16" "libxml-2.0;xmlsec1-openssl")
