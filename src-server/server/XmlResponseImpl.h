#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/RequestVersion.h"
#include "server/Response.h"

namespace norvale::quillmark {

class XmlResponseImpl : public Response {
public:
    // `version` is the request's: it is echoed and decides whether text coverage is written.
    // Results beyond `maxAnswer` bytes (0: no bound) throw AnswerTooLargeException.
    XmlResponseImpl(std::string responseNamespace, const RequestVersion& version,
                    std::uint64_t maxAnswer = 0);

    void classify(const std::string& id, const classifier::Classification& classification) override;
    void classifyKeywords(const std::string& id, const classifier::KeywordQueue& keywords) override;
    void getInformation(const std::string& id,
                        const std::vector<classifier::ClassInformation>& classes) override;

    void create(const std::string& id) override;
    void remove(const std::string& id) override;
    void addClass(const std::string& id) override;
    void removeClass(const std::string& id) override;
    void train(const std::string& id) override;
    void untrain(const std::string& id) override;

    std::string getResponse() const override;
    void clear() override;

private:
    void appendWriteResult(std::string_view call, const std::string& id);
    void checkBound() const;

    const std::string _namespace;
    const RequestVersion _version;
    const std::uint64_t _maxAnswer;
    // Finished lines of the readCalls and writeCalls sections, in call order.
    std::string _readCalls;
    std::string _writeCalls;
};

}  // namespace norvale::quillmark
