#!/usr/bin/env bash
# Installs with apt-get every package the build, the tests, the benchmarks and the oracles use;
# packages already present are skipped.
set -euo pipefail

packages=(
  # toolchains and build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  g++-powerpc-linux-gnu qemu-user
  # test and benchmark frameworks
  googletest libgtest-dev libbenchmark-dev time
  # libraries the runner reads pages with, the platform stand-ins use, and the tests and
  # benchmarks compare against
  libpng-dev libleptonica-dev libtiff-dev libjbig-dev libjbig2dec0-dev zlib1g-dev libjpeg62-turbo-dev
  libgif-dev libqpdf-dev liblcms2-dev libicu-dev
  # document back ends: XML, XSLT and XML signatures, zip archives, identifiers
  libxml2-dev libxslt1-dev libxmlsec1-dev libxmlsec1-openssl libssl-dev libzip-dev uuid-dev
  # oracle tools and page sources
  jbig2dec poppler-utils libtiff-tools netpbm jbigkit-bin jbigkit-testdata qpdf ghostscript
  libtasn1-doc file zip unzip gzip libarchive-tools python3 pngcheck giflib-tools libjpeg-turbo-progs
  mupdf-tools img2pdf xmlsec1 python3-lxml
  # fonts of the known-text sheets the token classifier is tested on
  fonts-urw-base35 fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "==> all ${#packages[@]} packages present"
  exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "==> installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
