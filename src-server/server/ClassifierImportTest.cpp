#include "server/ClassifierImport.h"

#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "classifier/ClassifierFactoryImpl.h"
#include "classifier/ClassifierTestSupport.h"
#include "io/filesystem/LoadFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "server/ClassifierJournal.h"
#include "server/PostgresTestSupport.h"
#include "testing/MessageOf.h"
#include "testing/RecordingLog.h"

namespace norvale::quillmark {
namespace {

using io::filesystem::test::TempFolder;
using Stored = ClassifierStore::Stored;

const classifier::ClassifierFactoryImpl Classifiers{nullptr};

// A classifier as the server makes it, with one text trained into its one class.
std::string trained(const std::string& text) {
    return classifier::trainedOn(nullptr, {{"a", text}})->getTrainingData();
}

class ClassifierImportTest : public testing::PostgresTest {
protected:
    std::size_t import(const TempFolder& folder, PostgresClassifierStore& store) {
        return ClassifierImport(&store, &Classifiers, &_loadFile, &_log).run(folder.path(""));
    }

    io::filesystem::LoadFileImpl _loadFile;
    testing::RecordingLog _log;
};

TEST_F(ClassifierImportTest, CopiesEveryClassifierFileWithItsJournal) {
    PostgresClassifierStore store(_connection);
    TempFolder folder;
    const std::string spam = trained("cheap pills"), news = trained("election results");
    const std::string record =
        ClassifierJournal::record({{JournalCall::Kind::Train, "a", "more news"}});
    folder.write("spam.dat", spam);
    folder.write("News.dat", news);
    folder.write("news.dat.journal", ClassifierJournal::header(news) + record);
    folder.write(".locks/ignored.dat", "not a classifier");

    EXPECT_EQ(import(folder, store), 2u);
    EXPECT_EQ(store.load("spam"), (Stored{store.version("spam"), spam, {}}));
    EXPECT_EQ(store.load("news"), (Stored{store.version("news"), news, {record}}));
    EXPECT_FALSE(store.exists("ignored"));
}

TEST_F(ClassifierImportTest, RefusesAFolderWithAFaultAndStoresNothing) {
    PostgresClassifierStore store(_connection);
    testing::commitNew(store, "taken", trained("first"));
    const auto database = testing::connect(_connection);
    const std::string good = trained("good text");
    const struct {
        std::map<std::string, std::string> files;
        std::string fault;
    } cases[] = {
        {{{"one.dat", good}, {"One.dat", good}}, "'one.dat' and 'One.dat' name one classifier."},
        {{{"two.dat", good}, {"taken.dat", good}}, "the classifier 'taken' exists already."},
        {{{"three.dat", good}, {"broken.dat", "no classifier"}}, "'broken.dat': "},
        {{{"four.dat", good}, {"four.dat.journal", "QMJ1 damaged"}},
         "'four.dat': The journal of the classifier is damaged at byte "},
        {{{"five.dat", good}, {"sub/six.dat", good}},
         "'sub/six.dat': no request can name the classifier 'sub/six'"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.fault);
        TempFolder folder;
        for (const auto& [name, content] : row.files) folder.write(name, content);
        EXPECT_THAT(testing::messageOf<ImportException>([&] { import(folder, store); }),
                    ::testing::HasSubstr(row.fault));
        EXPECT_EQ(
            testing::query(database.get(), "SELECT string_agg(key, ' ') FROM quillmark_snapshots"),
            "taken");
    }
    EXPECT_EQ(store.load("taken")->snapshot, trained("first"));
}

}  // namespace
}  // namespace norvale::quillmark
