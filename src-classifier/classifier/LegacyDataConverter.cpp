#include "classifier/LegacyDataConverter.h"

#include <string>

#include "classifier/ClassifierException.h"
#include "classifier/TokenDistributionImpl.h"
#include "classifier/storage/FeatureSet.h"
#include "debug/assertion.h"
#include "util/database/DatabaseReader.h"
#include "util/database/DatabaseWriter.h"

namespace norvale::classifier {

void LegacyDataConverter::convert(std::string_view oldData,
                                  util::database::DatabaseWriter& out) const {
    util::database::DatabaseReader reader(oldData);
    std::uint32_t version = 0;
    reader.getNextPrimitive(version);
    QM_ASSERT(version == 3 || version == 4, "Converting data of a version other than 3 or 4");

    std::uint32_t classCount = 0;
    reader.getNextPrimitive(classCount);
    if (classCount > storage::FeatureSet::MaxClasses) {
        throw ClassifierException("Trying to convert old data with " + std::to_string(classCount) +
                                  " classes; a classifier holds at most " +
                                  std::to_string(storage::FeatureSet::MaxClasses) + ".");
    }

    storage::FeatureSet set;
    TokenDistributionImpl distribution;
    std::string name;
    for (std::uint32_t k = 0; k < classCount; ++k) {
        reader.getNextString(name);
        distribution.deserialize(reader);
        set.addClass(name);
        distribution.forEachToken([&set, k](std::string_view token, std::uint32_t count) {
            if (count != 0) set.addAt(k, token, count);
        });
    }
    set.compact();

    out.putPrimitive(ConvertedVersion);
    out.putPrimitive(version);
    out.putPrimitive(ConvertedSmoothing);
    set.serialize(out);
}

}  // namespace norvale::classifier
