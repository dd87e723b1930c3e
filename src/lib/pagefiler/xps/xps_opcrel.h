#ifndef XPS_OPCREL_H
#define XPS_OPCREL_H

// The OPC relationship transform (ECMA-376 Part 2, Relationships Transform Algorithm) as an
// xmlsec1 transform class: only the relationships chosen by Id (RelationshipReference) or by type
// (RelationshipsGroupReference) remain, each gets TargetMode="Internal" unless it has a
// TargetMode, and they are sorted by Id. The work is done by a built-in XSLT stylesheet.
//
// xmlsec1 carries a relationship transform of its own under the same href; whoever registers
// this class puts it ahead of that one (see xps_sign.cpp), and the tests check which one ran.

// xmlsec1 headers need its base header first.
#include <xmlsec/xmlsec.h>

#include <libxml/tree.h>
#include <xmlsec/transforms.h>

#include "mono_export.h"

MONO_API const char qelXsltTemplate[];
MONO_API const xmlChar qelNameRels[];
MONO_API const xmlChar qelHrefRels[];
MONO_API const xmlChar qelOpcDSigNs[];
MONO_API const xmlChar qelAttrSourceType[];
MONO_API const xmlChar qelAttrSourceId[];
MONO_API const xmlChar qelAttrSelect[];
MONO_API const xmlChar qelNodeVariable[];
MONO_API const xmlChar qelNodeRelationshipsGroupReference[];
MONO_API const xmlChar qelNodeRelationshipReference[];

/* The transform class. */
MONO_API xmlSecTransformId qelTransformRelsGetKlass(void);

/* Adds an "opc:RelationshipsGroupReference" child with SourceType = sourceType to a Transform
   element of a template. The prefix is part of the stored name: the element that encloses the
   reference declares "opc". The new child, or null (reported through xmlSecError). */
MONO_API xmlNodePtr qelTmplRelsTransformAddGroupReference(xmlNodePtr transformNode, const xmlChar* sourceType);

#endif
