#pragma once

#include "exceptions/Exception.h"

namespace xml {

class ComInitializerException : public exceptions::Exception {
public:
    using exceptions::Exception::Exception;
};

// Makes the XML library ready for the calling thread. Every thread that uses Document or
// SchemaCache holds one for as long as it does; the library itself is initialised once per
// process (the first initializer of any thread does it), so later ones cost nothing.
// Throws ComInitializerException when the XML library that was loaded is older than the one
// the server was built against.
class ComInitializer {
public:
    ComInitializer();
    ~ComInitializer();

    ComInitializer(const ComInitializer&) = delete;
    ComInitializer& operator=(const ComInitializer&) = delete;

    // The once-per-process part alone; Document and SchemaCache call it themselves so that a
    // forgotten initializer can never race the library's own set-up.
    static void initialiseLibrary();
};

}  // namespace xml
