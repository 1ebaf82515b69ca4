#include "classifier/Keyword.h"

#include "debug/assertion.h"

namespace norvale::classifier {

Keyword::Keyword(const char* token, std::uint32_t length, double probability, std::uint32_t count,
                 const char* className)
    : _token(token),
      _length(length),
      _probability(probability),
      _count(count),
      _className(className) {
    QM_ASSERT(token != nullptr, "Constructing a keyword with null ptr");
}

}  // namespace norvale::classifier
