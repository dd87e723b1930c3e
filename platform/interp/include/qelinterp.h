#ifndef QELINTERP_H
#define QELINTERP_H

// Everything a plug-in library uses of the interpreter.

#include "elf_list.h"
#include "elf_member.h"
#include "elf_memory.h"
#include "elf_object.h"
#include "elf_path.h"
#include "elf_plugin.h"
#include "elf_text.h"
#include "qel_image.h"
#include "qel_struct.h"

#endif
