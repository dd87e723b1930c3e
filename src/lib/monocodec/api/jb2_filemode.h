#ifndef JB2_FILEMODE_H
#define JB2_FILEMODE_H

// Standalone JBIG2 files: the stream state of the writer callbacks over two memory sinks, one for
// segment headers and one for segment data, so that closing writes a file in the random-access
// organisation (file header, every segment header, then every data part) to the caller's stream.
// Between creation and close the state takes the same writer calls as the embedded stream
// (dictionaries, page information, text and generic regions, end of stripe and of page), plus
// extension segments.

#include <stddef.h>
#include <stdint.h>

#include "jb2_bridge.h"
#include "vlt_api_types.h"

// A state for a file of pageCount pages (the file header says so; singlePage puts every page
// segment on page 1 and writes no end of page). The file header goes to the target at once. 118
// without a place, 2001 when the header cannot be written, 1 without memory.
VltStatus createJb2StateCB(Jb2FileTarget* target, VltState* state, uint32_t profile, uint32_t pageCount,
                           uint8_t singlePage, Jb2StreamState** place, uintptr_t* context);
// Ends the file with an end-of-file segment, writes the collected headers and data parts to the
// target and releases the state whatever happens. 2001 ("writing header buf failed") when the
// target takes less than a whole chunk.
VltStatus closeJb2StateCB(Jb2StreamState* stream);
// The close as the engine's output state calls it (slot 1) when the run writes a file: as
// closeJb2StateCB, and 2001 when the pages written are not the number the file header names.
VltStatus closeJb2FileStateAPICB(Jb2StreamState* stream, uintptr_t context);
// One extension segment per record, on the current page. 2001 when a sink stores less.
VltStatus writeJb2AnnotationsCB(int32_t count, const Jb2ExtensionRecord* records, Jb2StreamState* stream);

#endif
