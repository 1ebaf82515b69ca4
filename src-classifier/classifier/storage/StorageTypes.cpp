#include "classifier/storage/StorageTypes.h"

#include <algorithm>

namespace norvale::classifier::storage {

ParameterAccessor::ParameterAccessor(std::size_t classCount) : _parameters(classCount, 0) {}

void ParameterAccessor::reset() {
    _featurePtr = nullptr;
    _classCount = 0;
    _total = 0;
    std::fill(_parameters.begin(), _parameters.end(), 0);
}

}  // namespace norvale::classifier::storage
