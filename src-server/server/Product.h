#pragma once

// Process-wide constant texts of the server: its name, version and the fixed paths, all relative
// to the working directory, which start-up sets to the executable's folder.

namespace norvale::quillmark::product {

extern const char* const Name;  // also the service name and display name
extern const char* const Version;
extern const char* const Description;
extern const char* const LogFolder;
extern const char* const LogFile;
extern const char* const RequestArchiveFolder;
extern const char* const DefaultClassifierRoot;
extern const char* const ConfigSchemaFile;
extern const char* const RequestSchemaFile;
extern const char* const ResponseSchemaFile;

}  // namespace norvale::quillmark::product
