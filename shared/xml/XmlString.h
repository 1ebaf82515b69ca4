#pragma once

// A string that libxml2 allocated, freed with xmlFree when the holder goes: also when copying
// it into a std::string runs out of memory.

#include <libxml/xmlmemory.h>
#include <libxml/xmlstring.h>

#include <memory>

namespace xml {

struct XmlStringFree {
    void operator()(xmlChar* value) const { xmlFree(value); }
};

using XmlString = std::unique_ptr<xmlChar, XmlStringFree>;

}  // namespace xml
