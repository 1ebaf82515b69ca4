#pragma once

// The journal beside a classifier file. Each committed write sequence appends one record of the
// calls it made, so a commit costs its own calls instead of a rewrite of the whole classifier;
// the classifier is its file with every record replayed in order. A checkpoint writes the file
// anew and drops the journal.
//
// Layout, numbers little-endian:
//   header  "QMJ1", size of the classifier file it extends (u64), CRC32C of that file (u32),
//           CRC32C of the 16 bytes before (u32)
//   record  payload length (u32, never 0), CRC32C of the payload (u32), payload
//   payload calls, each: kind (u8), class name length (u32), class name, and for train and
//           untrain text length (u32), text
// Zero bytes may follow the last record: space written ahead for the appends to come.
// The header ties the journal to one classifier file: a journal left behind by a checkpoint that
// stopped between writing the new file and dropping the journal no longer matches and is
// ignored, so no record is replayed twice.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "classifier/Classifier.h"
#include "classifier/ClassifierException.h"

namespace norvale::quillmark {

// A record that is damaged and followed by others: the journal cannot be replayed.
class JournalException : public classifier::ClassifierException {
public:
    using ClassifierException::ClassifierException;
};

struct JournalCall {
    enum class Kind : std::uint8_t { AddClass = 1, RemoveClass = 2, Train = 3, Untrain = 4 };

    Kind kind;
    std::string className;
    std::string text;  // empty for AddClass and RemoveClass

    bool operator==(const JournalCall&) const = default;
};

class ClassifierJournal {
public:
    using Record = std::vector<JournalCall>;

    struct Contents {
        // False when the journal extends another classifier file: it is to be dropped unread.
        bool extendsFile = false;
        std::vector<Record> records;
        // Bytes up to the end of the last whole record.
        std::size_t validLength = 0;
        // Whether bytes other than zeros follow them: the torn tail of an append that never
        // completed.
        bool torn = false;
    };

    static constexpr std::size_t HeaderSize = 20;

    // The header of a journal that extends the classifier file holding file.
    static std::string header(std::string_view file);
    // The framed record of one write sequence's calls.
    static std::string record(const Record& calls);
    // The records of journal, read against the classifier file it should extend. Throws
    // JournalException for a damaged header or a damaged record followed by bytes other than
    // zeros after the length its frame gives; a frame that runs past the end is a torn append.
    static Contents read(std::string_view journal, std::string_view file);
    // The calls of one framed record as record made it; throws JournalException when it is
    // damaged.
    static Record parse(std::string_view framed);
    // Applies the calls to classifier in order. Like the write calls themselves, it leaves the
    // classifier to be compacted once, after the last record.
    static void replay(const Record& calls, classifier::Classifier& classifier);
};

}  // namespace norvale::quillmark
