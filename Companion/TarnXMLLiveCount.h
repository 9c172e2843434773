// Bookkeeping of the XML layer for leak checks in tests.
#ifndef TARN_XML_LIVE_COUNT_H
#define TARN_XML_LIVE_COUNT_H

#include <cstdint>

namespace orv {

// The number of loaded XML documents still alive (held by a document, node, list or attribute
// reference). Zero once every reference has been dropped.
int32_t LiveXMLDocumentCount();

}  // namespace orv

#endif
