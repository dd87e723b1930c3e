#ifndef QELLIBXML_H
#define QELLIBXML_H

// The interpreter's XML pull reader over libxml2's xmlTextReader. Parts come from packages we
// do not trust, so the reader never touches the network, substitutes no entity, loads no DTD and
// refuses a document that declares one (package parts may carry none). Names and attribute
// values handed out are the caller's, released with libxml2's xmlFree; nodes and documents
// stay the reader's unless said otherwise.

#include <libxml/tree.h>

#include "kvng_sb.h"
#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct QELXmlReader QELXmlReader;

/* Takes one use of the XML library (the first initialises libxml2); 1. */
MONO_API int QELLibXmlInit(void);
/* Gives one use back. libxml2 stays initialised: other libraries of the process use it too. */
MONO_API void QELLibXmlEnd(void);
/* Uses taken and not given back, for tests. */
MONO_API int QELLibXmlUses(void);

/* A reader over the bytes of sb, which it takes on success (freed with the reader); null when
   memory runs out (sb stays the caller's). */
MONO_API QELXmlReader* QELXmlReaderAlloc(KVngSB* sb);
/* Moves to the next node in document order: 1 when a node was read, 0 at the end, -1 for
   malformed XML or a DTD (reported through KVngError). */
MONO_API int QELXmlReaderRead(QELXmlReader* reader);
/* Moves past the current node's subtree to the next node: as QELXmlReaderRead. */
MONO_API int QELXmlReaderNext(QELXmlReader* reader);
/* 1 when the current node is a start element (or an empty element), else 0. */
MONO_API int QELXmlReaderIsStartElement(QELXmlReader* reader);
/* The current node's name without namespace prefix, or null. */
MONO_API xmlChar* QELXmlReaderName(QELXmlReader* reader);
/* The value of the current element's attribute name, or null when it has none. */
MONO_API xmlChar* QELXmlReaderGetAttribute(QELXmlReader* reader, const char* name);
/* Reads the current node's whole subtree; the node (the reader's), or null when the subtree is
   malformed. */
MONO_API xmlNodePtr QELXmlReaderExpand(QELXmlReader* reader);
/* The current node (the reader's), or null. */
MONO_API xmlNodePtr QELXmlReaderGetCurrentNode(QELXmlReader* reader);
/* The document read so far, handed to the caller (xmlFreeDoc): freeing the reader leaves it. */
MONO_API xmlDocPtr QELXmlReaderGetDoc(QELXmlReader* reader);
/* Frees the reader and its bytes; null is ignored. */
MONO_API void QELXmlReaderFree(QELXmlReader* reader);

#ifdef __cplusplus
}
#endif

#endif
