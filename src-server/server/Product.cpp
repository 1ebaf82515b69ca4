#include "server/Product.h"

namespace norvale::quillmark::product {

const char* const Name = "Quillmark Server";
const char* const Version = "2.40";
const char* const Description = "Manages text classification requests.";
const char* const LogFolder = "./logs/";
const char* const LogFile = "./logs/log.txt";
const char* const RequestArchiveFolder = "./logs/requests/";
const char* const DefaultClassifierRoot = "./classifiers/";
const char* const ConfigSchemaFile = "./xml/schemas/config/ConfigSchema.xsd";
const char* const RequestSchemaFile = "./xml/schemas/server/RequestSchema.xsd";
const char* const ResponseSchemaFile = "./xml/schemas/server/ResponseSchema.xsd";

}  // namespace norvale::quillmark::product
