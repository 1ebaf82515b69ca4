#include "load/CorpusRequests.h"

#include <gtest/gtest.h>

#include "util/Base64DecoderImpl.h"
#include "util/Base64EncoderImpl.h"

namespace bench::load {
namespace {

std::string classifyAnswer(const std::vector<std::pair<std::string, std::string>>& classes) {
    std::string answer =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<quillmark xmlns=\"urn:r\" "
        "version=\"1.00\">\n\t<status success=\"true\" statusCode=\"2000\"/>\n\t<readCalls>\n"
        "\t<classify id=\"r\">\n\t\t<classification>\n";
    for (const auto& [name, p] : classes) {
        answer += "\t\t\t<class className=\"" + name + "\" p=\"" + p + "\"/>\n";
    }
    return answer + "\t\t</classification>\n\t</classify>\n\t</readCalls>\n</quillmark>";
}

TEST(CorpusRequestsTest, BestClassOfReadsTheLargestProbability) {
    const struct {
        std::vector<std::pair<std::string, std::string>> classes;
        std::string expected;
    } cases[] = {
        {{{"de", "0.01"}, {"en", "0.97"}, {"es", "0.02"}}, "en"},
        {{{"de", "0.2"}, {"en", "0.2"}, {"it", "0.1"}}, "de"},  // first among equals
        {{{"art", "9.5e-07"}, {"law", "1e-06"}}, "law"},        // %g exponents
        {{{"art", "1e-300"}, {"law", "0"}}, "art"},
        {{{"a", "0.5"}, {"b", "0.25"}, {"c", "0.25"}}, "a"},
        {{}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, bestClassOf(classifyAnswer(c.classes))) << c.expected;
    }
}

// Every text reaches its own train call, byte for byte, markup and control bytes included.
TEST(CorpusRequestsTest, TrainCarriesEachTextToItsClass) {
    const util::Base64EncoderImpl encoder;
    const CorpusRequests requests("urn:q", &encoder);
    const std::vector<corpus::LabelledText> texts = {{"en", "a < b & \"c\"\x01"}, {"de", "</x>"}};
    const std::string request = requests.train("lang", texts);

    const util::Base64DecoderImpl decoder;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string id = "t" + std::to_string(i);
        const std::string open = "<textBase64 id=\"" + id + "\">";
        const std::size_t start = request.find(open);
        ASSERT_NE(std::string::npos, start) << id;
        const std::size_t end = request.find('<', start + open.size());
        EXPECT_EQ(texts[i].text,
                  decoder.decode(request.substr(start + open.size(), end - start - open.size())));
        EXPECT_NE(std::string::npos, request.find("<train id=\"" + id + "\" className=\"" +
                                                  texts[i].label + "\" textId=\"" + id + "\"/>"));
    }
    EXPECT_NE(std::string::npos, request.find("<writeCalls classifierName=\"lang\">"));
    EXPECT_EQ(std::string::npos, request.find("a < b"));
}

TEST(CorpusRequestsTest, TargetNamespaceOfASchema) {
    EXPECT_EQ("http://h/1/server/RequestSchema",
              targetNamespaceOf("<?xml version=\"1.0\"?>\n<!-- a schema -->\n<xs:schema "
                                "xmlns:xs=\"x\"\n targetNamespace=\"http://h/1/server/"
                                "RequestSchema\" version=\"1.00\">"));
    EXPECT_EQ("", targetNamespaceOf("<xs:schema xmlns:xs=\"x\"/>"));
}

}  // namespace
}  // namespace bench::load
