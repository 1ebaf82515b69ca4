#include "server/ClassifierJournal.h"

#include <gtest/gtest.h>

#include <boost/crc.hpp>

#include <filesystem>
#include <fstream>
#include <random>

#include "classifier/ClassifierFactoryImpl.h"
#include "server/ClassifierTransactionImpl.h"
#include "server/RepositoryTestSupport.h"

namespace norvale::quillmark {
namespace {

using Kind = JournalCall::Kind;

const ClassifierJournal::Record First{{Kind::AddClass, "spam", ""},
                                      {Kind::Train, "spam", "buy now"}};
const ClassifierJournal::Record Second{{Kind::Untrain, "spam", "now"},
                                       {Kind::RemoveClass, "ham", ""}};

// A torn or damaged last append is cut off; damage with a whole record anywhere after it refuses
// the journal, also when it is the damaged record's length that reaches past the records after.
// Zeros after the last record are the space written ahead, also around a torn append. A journal
// of another file (a checkpoint stopped before dropping it) is not read at all.
TEST(ClassifierJournalTest, WholeRecordsAreReadAndATornLastAppendIsCutOff) {
    const std::string file = "the classifier file";
    const std::string head = ClassifierJournal::header(file);
    const std::string first = head + ClassifierJournal::record(First);
    const std::string second = ClassifierJournal::record(Second);
    const std::string whole = first + second;
    const auto flipped = [&](std::size_t at) {
        std::string damaged = whole;
        damaged[at] ^= 0x20;
        return damaged;
    };
    const std::string zeros(4096, '\0');
    // The second record's frame written, its payload not yet.
    const std::string frameOnly = first + second.substr(0, 8) + zeros;
    const std::size_t firstPayload = ClassifierJournal::HeaderSize + 8, refused = std::size_t(-1);
    const struct {
        std::string journal;
        std::size_t records, validLength;
        bool torn;
    } cases[] = {
        {whole, 2, whole.size(), false},
        {head, 0, head.size(), false},
        {whole.substr(0, first.size() + 5), 1, first.size(), true},
        {whole.substr(0, whole.size() - 1), 1, first.size(), true},
        {flipped(whole.size() - 1), 1, first.size(), true},
        {whole + zeros, 2, whole.size(), false},
        {first + "\x05" + zeros, 1, first.size(), true},
        {frameOnly, 1, first.size(), true},
        // The second record's payload written, its frame not (pages reach the disk in any order).
        {first + std::string(8, '\0') + second.substr(8) + zeros, 1, first.size(), true},
        {flipped(0), 0, refused, false},
        {flipped(7), 0, refused, false},
        {flipped(firstPayload), 0, refused, false},
        {flipped(firstPayload + 3), 0, refused, false},
        {whole.substr(0, 10), 0, refused, false},
        {first + zeros + second, 0, refused, false},
        // The first record's length grown by 32, to the end of the second, and by 8192.
        {flipped(ClassifierJournal::HeaderSize), 0, refused, false},
        {flipped(ClassifierJournal::HeaderSize + 1), 0, refused, false},
    };
    const std::vector<ClassifierJournal::Record> both{First, Second};
    for (const auto& row : cases) {
        SCOPED_TRACE(&row - cases);
        if (row.validLength == refused) {
            EXPECT_THROW(ClassifierJournal::read(row.journal, file), JournalException);
            continue;
        }
        const auto contents = ClassifierJournal::read(row.journal, file);
        EXPECT_TRUE(contents.extendsFile);
        EXPECT_EQ(row.validLength, contents.validLength);
        EXPECT_EQ(row.torn, contents.torn);
        EXPECT_EQ(std::vector(both.begin(), both.begin() + static_cast<long>(row.records)),
                  contents.records);
    }
    // The header's checksum of the file is CRC32C, whichever way it is computed: journals written
    // before stay readable.
    for (std::size_t length = 0; length <= 40; ++length) {
        const std::string bytes =
            std::string("123456789abcdefghijklmnopqrstuvwxyz\xff\x80\x01\x00Q", length);
        boost::crc_optimal<32, 0x1EDC6F41, 0xFFFFFFFF, 0xFFFFFFFF, true, true> crc;
        crc.process_bytes(bytes.data(), bytes.size());
        const std::string header = ClassifierJournal::header(bytes);
        std::uint32_t stored = 0;
        for (int i = 3; i >= 0; --i)
            stored = stored << 8 | static_cast<unsigned char>(header[12 + i]);
        EXPECT_EQ(crc.checksum(), stored) << length;
    }
    const auto stale = ClassifierJournal::read(whole, file + ".");
    EXPECT_FALSE(stale.extendsFile);
    EXPECT_TRUE(stale.records.empty());
}

// Random write requests on one classifier, committed through the journal with an early floor so
// that checkpoints happen too, against a reference that applies each successful request to a
// copy and swaps it in (what storing the classifier whole after every request keeps). After
// every request the classifier in memory, and after each restart the one loaded from file and
// journal, hold the reference's bytes.
TEST(ClassifierJournalTest, JournalledClassifiersEqualOnesStoredWholeAfterEveryRequest) {
    const classifier::ClassifierFactoryImpl factory(nullptr);
    testing::TempRepository files(&factory);
    auto& repository = files.repository;
    const std::string key = files.key("Model");

    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    const std::vector<std::string> classes{"a", "b", "c", "d", "e"};
    const std::vector<std::string> words{
        "buy",   "now", "cheap", "hello", "meeting", "x", "qq", "a-very-long-word-of-many-letters",
        "zz top"};
    const auto text = [&] {
        std::string out;
        for (std::size_t n = 1 + pick(12); n > 0; --n) out += words[pick(words.size())] + " ";
        return out;
    };

    std::unique_ptr<classifier::Classifier> reference;
    std::size_t checkpoints = 0, tornTails = 0;
    for (int request = 0; request < 400; ++request) {
        SCOPED_TRACE("request " + std::to_string(request));
        ClassifierTransactionImpl transaction(repository.get(), key, 0);
        if (reference && pick(40) == 0) {
            transaction.remove();
            transaction.commit();
            reference.reset();
            continue;
        }
        std::unique_ptr<classifier::Classifier> expected =
            reference ? reference->clone() : factory.create();
        bool failed = false;
        try {
            if (!reference) transaction.create();
            for (std::size_t call = 1 + pick(6); call > 0 && !failed; --call) {
                const std::string& name = classes[pick(classes.size())];
                const std::size_t kind = pick(10);
                const bool exists = expected->classExists(name);
                if (kind == 0 && !exists) {
                    transaction.addClass(name);
                    expected->addClass(name);
                } else if (kind == 1 && exists) {
                    transaction.removeClass(name);
                    expected->removeClass(name);
                } else if (kind > 1 && exists) {
                    const std::string sample = text();
                    kind < 7 ? transaction.train(name, sample) : transaction.untrain(name, sample);
                    kind < 7 ? expected->train(name, sample) : expected->untrain(name, sample);
                } else if (kind > 1 && pick(4) == 0) {
                    failed = true;  // a failing call rolls the whole request back
                    transaction.train(name, text());
                }
            }
            transaction.commit();
        } catch (const classifier::ClassifierException&) {
            ASSERT_TRUE(failed);
            continue;
        }
        ASSERT_FALSE(failed);
        expected->compact();
        reference = std::move(expected);
        const std::string bytes = reference->getTrainingData();
        const auto shared = repository->get(key);
        EXPECT_EQ(bytes, shared->classifier().getTrainingData());
        EXPECT_EQ(bytes.size(), repository->size(key));
        if (shared->journalBytes() == 0) ++checkpoints;
        if (pick(10) == 0) {
            // Now and then a write cut short left part of a record after the last one: cut off
            // and logged once.
            const bool torn = shared->journalBytes() > 0 && pick(2) == 0;
            if (torn) {
                std::fstream journal(files.root + "/model.dat.journal",
                                     std::ios::in | std::ios::out | std::ios::binary);
                journal.seekp(static_cast<std::streamoff>(shared->journalBytes()));
                journal << "\x05\x00";
            }
            const std::size_t logged = files.log.entries().size();
            files.restart();
            EXPECT_EQ(bytes, repository->get(key)->classifier().getTrainingData());
            EXPECT_EQ(bytes.size(), repository->size(key));
            EXPECT_EQ(files.log.entries().size(), logged + (torn ? 1 : 0));
            tornTails += torn ? 1 : 0;
        }
    }
    EXPECT_GT(checkpoints, 10u);
    EXPECT_GT(tornTails, 0u);
    // At an orderly stop the file alone comes to hold the classifier.
    repository->checkpoint();
    EXPECT_FALSE(std::filesystem::exists(files.key("model") + ".journal"));
    EXPECT_EQ(reference ? reference->getTrainingData() : "",
              reference ? files.content("model") : "");
}

}  // namespace
}  // namespace norvale::quillmark
