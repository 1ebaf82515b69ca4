#include "server/ClassifierCallbackImpl.h"

#include <gtest/gtest.h>

#include "server/ClassifierCallbackFactoryImpl.h"
#include "server/RepositoryTestSupport.h"

namespace norvale::quillmark {
namespace {

using testing::LogEntry;

TEST(ClassifierCallbackImplTest, ReportsToTheLogWithThePrefix) {
    testing::RecordingLog log;
    ClassifierCallbackFactoryImpl factory(&log);
    const auto callback = factory.create();
    callback->onFailure("p == p", "A probability is not a number.", "ClassifierImpl.cpp", 42);
    callback->clone()->onFailure("rest.empty()", "", "Data.cpp", 7);
    EXPECT_EQ((std::vector<LogEntry>{
                  {"Failure",
                   "p == p|Classifier failure: A probability is not a number.|ClassifierImpl.cpp|42"},
                  {"Failure", "rest.empty()|Classifier failure: |Data.cpp|7"}}),
              log.entries());
}

}  // namespace
}  // namespace norvale::quillmark
