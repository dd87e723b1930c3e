#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job on the sample pages (CCITT test charts
# and rendered documentation pages): the pages scanned to one PDF with monodoc pdf (JBIG2 with
# shared dictionaries, lossless and lossy), checked by qpdf, rendered back by poppler and compared
# with the pages, with a table of sizes against the same pages as G4 in PDF.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default
cmake --build build/default -j "$(nproc)"
scripts/scan-to-pdf.sh build/default
