#include "corpus/CorpusFile.h"

#include <gtest/gtest.h>

#include <string>

#include "io/filesystem/TempFolder.h"

namespace bench::corpus {
namespace {

using io::filesystem::test::TempFolder;

std::string messageOf(std::string_view content) {
    try {
        parseCorpusText(content);
    } catch (const CorpusFileException& e) {
        return e.what();
    }
    return "no exception";
}

// The same lines the split writer's own tests write, read back to the same bytes.
TEST(CorpusFileTest, ReadsLabelsAndUnescapesTexts) {
    const auto texts = parseCorpusText(
        "de\tEin\\tTab\\nZeile\\\\\n"
        "en\tback\\\\slash\\\\n not a newline\n"
        "es\t\n"
        "it\tCR\\r\\n and UTF-8 \xc3\xa4\n");
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], (LabelledText{"de", "Ein\tTab\nZeile\\"}));
    EXPECT_EQ(texts[1], (LabelledText{"en", "back\\slash\\n not a newline"}));
    EXPECT_EQ(texts[2], (LabelledText{"es", ""}));
    EXPECT_EQ(texts[3], (LabelledText{"it", "CR\r\n and UTF-8 \xc3\xa4"}));
    EXPECT_EQ(corpusLabels(texts), (std::vector<std::string>{"de", "en", "es", "it"}));
    EXPECT_TRUE(parseCorpusText("").empty());
}

TEST(CorpusFileTest, RefusesMalformedLinesNamingThem) {
    EXPECT_EQ(messageOf("en\tfine\nno tab here\n"), "Line 2: not a 'label TAB text' line.");
    EXPECT_EQ(messageOf("en\ttwo\ttabs\n"), "Line 1: not a 'label TAB text' line.");
    EXPECT_EQ(messageOf("\tno label\n"), "Line 1: empty label.");
    EXPECT_EQ(messageOf("en\tunknown \\q\n"), "Line 1: unknown escape \\q.");
    EXPECT_EQ(messageOf("en\tdangling \\\n"), "Line 1: a backslash ends the text.");
    EXPECT_EQ(messageOf("en\tfine\nen\tcut off"), "Line 2: no line feed at the end.");
}

TEST(CorpusFileTest, ReadsFilesAndNamesTheFileInErrors) {
    TempFolder folder;
    const std::string good = folder.write("train.tsv", "en\tHello\\tworld\nde\tHallo\n");
    EXPECT_EQ(readCorpusFile(good),
              (std::vector<LabelledText>{{"en", "Hello\tworld"}, {"de", "Hallo"}}));

    const std::string bad = folder.write("test.tsv", "en\tok\nbroken\n");
    try {
        readCorpusFile(bad);
        FAIL() << "a malformed file was read";
    } catch (const CorpusFileException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "In the corpus file '" + bad + "': Line 2: not a 'label TAB text' line.");
    }
    EXPECT_THROW(readCorpusFile(folder.path("missing.tsv")), CorpusFileException);
}

}  // namespace
}  // namespace bench::corpus
