#!/usr/bin/env python3
"""The mutant list of scripts/mutation-check.sh and the steps it cannot do well in bash.

Each mutant is one small fault put into the product: an exact snippet that occurs once in its
file and its replacement, the test executables that exercise the file (they are built and their
tests run), an optional ctest regex that narrows those tests, and an area tag.

Subcommands (the bash script calls them; they are not meant to be stable for anyone else):
  ids [--area A] [--only ID]          the selected mutant ids, one a line
  show ID FIELD                       one field of a mutant (targets print space-separated)
  apply ID ROOT BACKUP                writes the mutant into ROOT/file after copying the file to
                                      BACKUP; exit 3 when the snippet is not found exactly once
  tests BUILD TARGETS...              the ctest numbers of the tests whose program is one of the
                                      targets, comma-separated
  targets BUILD ID...                 per mutant, "ID<tab>programs": the mutant's test programs that
                                      the build folder has; when it has none of them (tests were
                                      renamed or merged), the test programs that compile or link
                                      the mutated file
"""
import json
import os
import re
import shutil
import subprocess
import sys
from dataclasses import dataclass


@dataclass
class Mutant:
    id: str
    area: str  # server | engine | platform
    kind: str
    file: str
    find: str
    replace: str
    targets: list
    regex: str = ""  # narrows the targets' tests (ctest -R); empty runs them all
    what: str = ""


M = Mutant
MUTANTS = [
    # --- classifier engine: numbers, compaction, keyword threshold -----------------------------
    M("eng-complement-offset", "engine", "number changed",
      "src-classifier/classifier/ClassifierImpl.cpp",
      "constexpr double ComplementOffset = 0.6;", "constexpr double ComplementOffset = 0.5;",
      ["ClassifierImplTest"], what="complement offset of the score 0.6 -> 0.5"),
    M("eng-class-weight-bound", "engine", "bound off by one",
      "src-classifier/classifier/ClassifierImpl.cpp",
      "if (_n <= 2) return 1.0;", "if (_n <= 3) return 1.0;",
      ["ClassifierImplTest"], what="class weight ln(n/k)+1 also skipped for three classes"),
    M("eng-two-class-weight", "engine", "statement changed",
      "src-classifier/classifier/ClassifierImpl.cpp",
      "_e[j] = _b[j] * c + _smoothing;", "_e[j] = c + _smoothing;",
      ["ClassifierImplTest"], what="two classes: the count is not weighted by the class sizes"),
    M("eng-normalisation-root", "engine", "formula changed",
      "src-classifier/classifier/ClassifierImpl.cpp",
      "1.0 / std::sqrt(_qsum) : 1.0;", "1.0 / _qsum : 1.0;",
      ["ClassifierImplTest"], what="scores divided by the square sum instead of its root"),
    M("eng-keyword-tie", "engine", "comparison flipped",
      "src-classifier/classifier/ClassifierImpl.cpp",
      "if (share > best) {", "if (share >= best) {",
      ["ClassifierImplTest", "KeywordQueueTest"],
      what="a keyword share equal to the threshold or to an earlier class wins"),
    M("eng-keyword-threshold-bound", "engine", "comparison flipped",
      "src-server/server/XmlClassifier.cpp",
      "return classes >= 2 ? 1.8", "return classes > 2 ? 1.8",
      ["XmlClassifierTest"], what="keyword threshold 1.8/(n+1) not applied to two classes"),
    M("eng-keyword-queue-tie", "engine", "comparison flipped",
      "src-classifier/classifier/KeywordQueue.cpp",
      "!(candidate.probability() > _queue.top().probability())",
      "!(candidate.probability() >= _queue.top().probability())",
      ["KeywordQueueTest", "ClassifierImplTest"],
      what="a full keyword queue replaces its weakest word by an equally strong one"),
    M("eng-compact-class-order", "engine", "comparison flipped",
      "src-classifier/classifier/storage/VectorLane.h",
      "return order != 0 ? order < 0 : left.classIndex() < right.classIndex();",
      "return order != 0 ? order < 0 : left.classIndex() > right.classIndex();",
      ["VectorLaneTest", "ClassifierImplTest"],
      what="compaction sorts the records of one feature by descending class"),
    M("eng-pending-unread", "engine", "statement dropped",
      "src-classifier/classifier/storage/VectorLane.h",
      "    if (!_pending.empty()) addPending(key, accessor);",
      "    if (_pending.empty()) addPending(key, accessor);",
      ["VectorLaneTest", "ClassifierImplTest"],
      what="reads miss the training that waits for compaction"),
    M("eng-undo-untrain-lost", "engine", "condition flipped",
      "src-classifier/classifier/ClassifierImpl.cpp",
      "if (undo != nullptr && removed != 0)\n", "if (undo != nullptr && removed == 0)\n",
      ["ClassifierImplTest"], what="taking back an untrain call leaves its counts removed"),
    M("eng-untrain-to-zero", "engine", "bound off by one",
      "src-classifier/classifier/storage/VectorLane.h",
      "if (removed < old) return false;", "if (removed <= old) return false;",
      ["VectorLaneTest", "ClassifierImplTest"],
      what="a record untrained to zero is neither counted as deleted nor dropped by compaction"),
    M("eng-merge-keeps-zero", "engine", "statement dropped",
      "src-classifier/classifier/storage/VectorLane.h",
      "if (record->count() == 0) continue;", "(void)0;",
      ["VectorLaneTest", "ClassifierImplTest"],
      what="compaction in place keeps the records untrained to zero"),
    # --- stored format: reader/writer, legacy conversion ----------------------------------------
    M("fmt-class-record-order", "engine", "statements swapped",
      "src-classifier/classifier/storage/FeatureSet.cpp",
      "        writer.putPrimitive(record._count);\n        writer.putPrimitive(record._unique);\n",
      "        writer.putPrimitive(record._unique);\n        writer.putPrimitive(record._count);\n",
      ["ClassifierImplTest"],
      what="a class record is written with its unique and total counts swapped"),
    M("fmt-reader-string-bound", "engine", "bound off by one",
      "shared/util/database/DatabaseReader.cpp",
      "if (!fits(length)) throw DatabaseReaderException(StringCorrupt);",
      "if (length > remaining() + 1) throw DatabaseReaderException(StringCorrupt);",
      ["DatabaseTest"], what="a stored string one byte longer than the data is read"),
    M("fmt-load-zero-count", "engine", "statement dropped",
      "src-classifier/classifier/ClassifierImpl.cpp",
      'if (record.count() == 0) refuse("a record has a count of zero.");', "",
      ["ClassifierImplTest"], what="a loaded record with a count of zero is accepted"),
    M("fmt-legacy-extractor-version", "engine", "value changed",
      "src-classifier/classifier/LegacyDataConverter.cpp",
      "out.putPrimitive(version);", "out.putPrimitive(ConvertedVersion);",
      ["ClassifierImplTest"],
      what="converted legacy data names the current extractor instead of the old one"),
    M("fmt-legacy-class-limit", "engine", "bound off by one",
      "src-classifier/classifier/LegacyDataConverter.cpp",
      "if (classCount > storage::FeatureSet::MaxClasses) {",
      "if (classCount >= storage::FeatureSet::MaxClasses) {",
      ["ClassifierImplTest"], what="legacy data with the largest class count is refused"),
    M("fmt-legacy-version-4", "engine", "condition dropped",
      "src-classifier/classifier/ClassifierImpl.cpp",
      "if (version == 3 || version == 4) {", "if (version == 3) {",
      ["ClassifierImplTest"], what="version 4 data is no longer converted"),
    # --- XML requests and the error catalogue ---------------------------------------------------
    M("xml-write-call-wrapping", "server", "error message changed",
      "src-server/server/XmlClassifier.cpp",
      '"\\nWriteCall: " + e.getMethod()', '"\\nWrite call: " + e.getMethod()',
      ["XmlClassifierTest"], what="error text of a failed write call"),
    M("xml-engine-error-code", "server", "error code changed",
      "src-server/server/XmlClassifier.cpp",
      "catch (const classifier::ClassifierException& e) {\n"
      "        throw CallFailure(method, callId, e.what(), statusCode::BAD_REQUEST);",
      "catch (const classifier::ClassifierException& e) {\n"
      "        throw CallFailure(method, callId, e.what(), statusCode::SERVER_ERROR);",
      ["XmlClassifierTest"], what="an engine refusal answers 5000 instead of 4000"),
    M("xml-text-id-repeat-unnoticed", "server", "statement dropped",
      "src-server/server/RequestTexts.cpp",
      "_repeatedId = _repeatedId || !added;", "(void)added;",
      ["RequestTextsTest"], what="two texts of one id pass when the validator leaves the text id rules out"),
    M("xml-text-id-fault-not-revalidated", "server", "statement dropped",
      "src-server/server/XmlClassifier.cpp",
      "if (_checks.textIds && !texts.referencesResolve(root, _requestNamespace)) _document.validate();",
      "(void)texts;",
      ["RequestTextsTest"], what="a call naming no text reaches execution instead of the validator's report"),
    M("xml-plain-text-takes-elements", "platform", "condition dropped",
      "shared/xml/Element.cpp",
      "if (node->type != XML_TEXT_NODE && node->type != XML_CDATA_SECTION_NODE) {",
      "if (node->type == XML_ELEMENT_NODE && false) {",
      ["XmlDocumentTest"], what="an element's text skips the text of its child elements"),
    M("xml-too-large-code", "server", "error code changed",
      "src-server/server/ClassifyConnection.cpp",
      "_drain(statusCode::REQUEST_TOO_LARGE,", "_drain(statusCode::BAD_REQUEST,",
      ["ClassifyConnectionTest"], what="a request over the input limit answers 4000, not 4013"),
    M("road-held-request-kept", "server", "statement dropped",
      "src-server/server/ClassifyConnection.cpp",
      "ClassifyConnection::~ClassifyConnection() {\n    _release();",
      "ClassifyConnection::~ClassifyConnection() {",
      ["ClassifyConnectionTest"], what="a client gone while sending keeps its bytes counted against the bound"),
    M("journal-removal-unnoticed", "server", "condition changed",
      "src-server/server/FileClassifierStore.cpp",
      "if (open) return open->atPath();", "if (open) return true;",
      ["RepositoryTest"], what="a journal removed while held open takes the records of every later commit"),
    M("xml-name-length-bound", "server", "bound off by one",
      "src-server/server/RequestShape.cpp",
      "value.size() > 100", "value.size() >= 100",
      ["XmlClassifierTest", "RequestShapeTest"], what="a classifier name of 100 bytes is refused"),
    M("xml-shape-qualified-attribute", "platform", "statement dropped",
      "shared/xml/ShapeReader.cpp",
      "            if (attribute[1] != nullptr) return false;\n", "",
      ["RequestShapeTest"], what="a qualified attribute passes the shape check for an unqualified one"),
    M("xml-shape-any-version", "server", "condition changed",
      "src-server/server/RequestShape.cpp",
      'return value == "1.00" || value == "1.01";', "return !value.empty();",
      ["RequestShapeTest"], what="a request of any version skips the validator"),
    M("xml-shape-child-twice", "platform", "condition dropped",
      "shared/xml/ShapeReader.cpp",
      "if (rule.eachChildOnce && (parent.seen & bit) != 0) return false;",
      "if (false && rule.eachChildOnce && (parent.seen & bit) != 0) return false;",
      ["RequestShapeTest"], what="a request with two texts elements skips the validator"),
    M("xml-prescan-single-quote", "platform", "condition dropped",
      "shared/xml/Document.cpp",
      "if (c == '\"' || c == '\\'') {", "if (c == '\"') {",
      ["XmlDocumentTest"], what="'=' inside single-quoted values counts as an attribute"),
    M("xml-number-no-doubt", "server", "bound changed",
      "src-server/server/ResponseDocument.cpp",
      "constexpr double Doubt = 1e-7;", "constexpr double Doubt = 0;",
      ["ResponseProtocolTest"], what="numbers near halfway between two results are rounded by double arithmetic"),
    M("xml-schema-version", "server", "validation changed",
      "xml/schemas/server/RequestSchema.xsd",
      '      <xs:enumeration value="1.01"/>\n', "",
      ["XmlClassifierTest", "ResponseProtocolTest"], what="requests of version 1.01 fail validation"),
    M("xml-duplicate-text-id", "server", "condition dropped",
      "src-server/server/RequestTexts.cpp",
      "if (!encoded && !texts.plain) texts.plain.emplace(std::move(content));",
      "if (!encoded) texts.plain.emplace(std::move(content));",
      ["XmlClassifierTest"], what="of two texts with one id the last is used, not the first"),
    M("xml-reader-attribute-reference", "platform", "condition dropped",
      "shared/xml/ShapeReader.cpp",
      "value.find('&') != std::string_view::npos ||", "",
      ["RequestShapeTest"], what="an attribute value with a reference is read in one pass, unresolved"),
    M("xml-reader-text-bound", "platform", "statement dropped",
      "shared/xml/ShapeReader.cpp",
      "if (element.textBytes > XML_MAX_TEXT_LENGTH) return false;", "",
      ["RequestShapeTest"], what="a text the parser's tree refuses is read in one pass"),
    M("xml-reader-comment-in-text", "platform", "condition changed",
      "shared/xml/ShapeReader.cpp",
      "return _open.empty() || _open.back().rule->content == ShapeElement::Content::Children;",
      "return true;",
      ["RequestShapeTest"], what="a comment inside a text passes the one-pass reading"),
    M("xml-reader-noisy", "platform", "statement dropped",
      "shared/xml/ShapeReader.cpp",
      "    const QuietGenericErrors quiet;\n", "",
      ["RequestShapeTest"], what="a reading writes the library's encoding errors to standard error"),
    M("xml-reader-references-unchecked", "server", "condition dropped",
      "src-server/server/RequestReader.cpp",
      "return !call.attributeExists(\"textId\") || texts.contains(call.getAttribute(\"textId\"));",
      "(void)texts, (void)call;\n        return true;",
      ["RequestShapeTest", "RequestTextsTest"], what="a call naming no text is read in one pass instead of refused by the validator"),
    M("xml-error-source-line", "server", "statement changed",
      "src-server/server/XmlErrorResponseImpl.cpp",
      "    message.erase(cutStart, cutEnd - cutStart);",
      "    if (false) message.erase(cutStart, cutEnd - cutStart);",
      ["ResponseProtocolTest", "XmlClassifierTest"],
      what="error documents quote the offending request line"),
    M("xml-max-size-bound", "server", "bound off by one",
      "src-server/server/XmlClassifier.cpp",
      "_repository->size(transaction.getName()) >= sizeLimit", 
      "_repository->size(transaction.getName()) > sizeLimit",
      ["XmlClassifierTest"], what="training goes on when the file is exactly at maxSize"),
    # --- transactions and the repository --------------------------------------------------------
    M("txn-created-not-rolled-back", "server", "rollback skipped",
      "src-server/server/ClassifierTransactionImpl.cpp",
      "        _createdThenRemoved = false;\n        _repository->discardCreated(_key);\n",
      "        _createdThenRemoved = false;\n",
      ["RepositoryTest", "XmlClassifierTest"],
      what="a classifier created by a failed write sequence is not removed again"),
    M("txn-swap-before-save", "server", "rollback skipped",
      "src-server/server/ClassifierTransactionImpl.cpp",
      "            storeCopy(*_classifierInfo.copy);\n"
      "            shared.classifier().swap(*_classifierInfo.copy);\n",
      "            shared.classifier().swap(*_classifierInfo.copy);\n"
      "            storeCopy(shared.classifier());\n",
      ["RepositoryTest", "XmlClassifierTest"],
      what="the classifier in memory changes before the save that may fail"),
    M("txn-undo-dropped-before-save", "server", "rollback skipped",
      "src-server/server/ClassifierTransactionImpl.cpp",
      "    const std::size_t changes = _classifierInfo.undo.changes().size();\n"
      "    if (journalFull(size)) {\n",
      "    const std::size_t changes = _classifierInfo.undo.changes().size();\n"
      "    _classifierInfo.undo.clear();\n"
      "    if (journalFull(size)) {\n",
      ["RepositoryTest", "XmlClassifierTest"],
      what="training in place is kept in memory when its save fails"),
    M("txn-in-place-not-undone", "server", "statement dropped",
      "src-server/server/ClassifierTransactionImpl.cpp",
      "if (_classifierInfo.classifier && !_classifierInfo.undo.empty()) {",
      "if (_classifierInfo.classifier && _classifierInfo.undo.empty()) {",
      ["RepositoryTest", "XmlClassifierTest"],
      what="a rolled-back request leaves its training in the shared classifier"),
    M("txn-read-lock-dropped", "server", "lock released early",
      "src-server/server/XmlClassifier.cpp",
      "    platform::mutex::ReaderAutoLock lock(shared->reader());\n"
      "    classifier::Classification classification;\n",
      "    classifier::Classification classification;\n",
      ["XmlClassifierTest"], what="classify reads the classifier without its reader lock"),
    M("repo-save-file-lock-dropped", "server", "lock released early",
      "src-server/server/FileClassifierStore.cpp",
      "    const Lock lock(_lockFolder, fileKey);\n    _saveFile->save(fileKey,",
      "    _saveFile->save(fileKey,",
      ["RepositoryTest", "RepositoryConcurrencyTest"],
      what="a classifier file is saved without its named file lock"),
    M("journal-torn-tail-refused", "server", "condition made always true",
      "src-server/server/ClassifierJournal.cpp",
      "            if (wholeRecordAfter(journal, at + 1)) damaged(at);",
      "            if (wholeRecordAfter(journal, at + 1) || at > 0) damaged(at);",
      ["RepositoryTest"], what="a torn last append refuses the classifier instead of being cut off"),
    M("journal-space-ahead-torn", "server", "statement dropped",
      "src-server/server/ClassifierJournal.cpp",
      "            if (zerosFrom(at)) break;\n", "            if (zerosFrom(at) && false) break;\n",
      ["RepositoryTest"], what="the zeros written ahead of the records are taken for a torn append"),
    M("journal-no-space-ahead", "platform", "statement changed",
      "shared/io/filesystem/SaveFileImpl.cpp",
      "const std::uint64_t ahead = (end + InPlaceSpace - 1) / InPlaceSpace * InPlaceSpace;",
      "const std::uint64_t ahead = end;",
      ["IoTest"], what="a journal grows with each record, so each sync writes the file's length too"),
    M("journal-stale-replayed", "server", "check skipped",
      "src-server/server/ClassifierJournal.cpp",
      "contents.extendsFile = get(head, 4, 8) == file.size() && get(head, 12, 4) == crc32c(file);",
      "contents.extendsFile = !file.empty();",
      ["RepositoryTest"], what="a journal left by a checkpoint is replayed onto the file that holds it"),
    M("journal-untrain-not-recorded", "server", "statement dropped",
      "src-server/server/ClassifierTransactionImpl.cpp",
      "    _calls.push_back({JournalCall::Kind::Untrain, std::string(className), std::string(text)});\n",
      "",
      ["RepositoryTest"], what="an untrain call changes memory but never reaches the journal"),
    M("journal-torn-tail-not-logged", "server", "statement dropped",
      "src-server/server/JobDistributionImpl.cpp",
      "        if (cut > 0) {", "        if (cut > 1000000) {",
      ["RepositoryTest"], what="a journal's torn last record is cut off without a log line"),
    M("group-reader-sees-unsynced", "server", "lock released early",
      "src-server/server/ThreadSafeClassifier.cpp",
      "_changed.wait(lock, [this] { return !_writer && _pending.empty(); });",
      "_changed.wait(lock, [this] { return !_writer; });",
      ["RepositoryConcurrencyTest"], what="readers see records whose sync has not ended"),
    M("group-failed-sync-kept", "server", "statement dropped",
      "src-server/server/ThreadSafeClassifier.cpp",
      "        _classifier->undo(*pending->undo);", "        if (false) _classifier->undo(*pending->undo);",
      ["RepositoryConcurrencyTest"], what="a failed group sync leaves its writers' changes in memory"),
    M("group-journal-not-cut", "server", "statement dropped",
      "src-server/server/ThreadSafeClassifier.cpp",
      "        cut(_durableJournal);", "        if (false) cut(_durableJournal);",
      ["RepositoryConcurrencyTest"], what="a failed group sync leaves its records in the journal"),
    M("repo-evict-newest", "server", "comparison flipped",
      "src-server/server/JobDistributionImpl.cpp",
      "if (entry->second->lastAccess() < oldest->second->lastAccess()) oldest = entry;",
      "if (entry->second->lastAccess() > oldest->second->lastAccess()) oldest = entry;",
      ["RepositoryTest"], what="memory pressure evicts the most recently used classifier"),
    M("repo-room-needed", "server", "number changed",
      "src-server/server/JobDistributionImpl.cpp",
      "const std::uint64_t need = load ? 0 : 2 * _store->size(file);",
      "const std::uint64_t need = load ? 0 : _store->size(file);",
      ["RepositoryTest"], what="a load makes room for once instead of twice the file size"),
    M("repo-file-key-case", "server", "bound off by one",
      "src-server/server/FileClassifierStore.cpp",
      "lowered[i] <= 'Z'", "lowered[i] < 'Z'",
      ["RepositoryTest", "XmlClassifierTest"], what="a 'Z' in a classifier name is not lowered"),
    # --- connection road ------------------------------------------------------------------------
    M("road-input-limit-bound", "server", "bound off by one",
      "src-server/server/ClassifyConnection.cpp",
      "if (_request.size() > _params->maxInput) {", "if (_request.size() >= _params->maxInput) {",
      ["ClassifyConnectionTest"], what="a request of exactly the input limit is refused"),
    M("road-send-deadline-unarmed", "server", "deadline not armed",
      "src-server/server/ClassifyConnection.cpp",
      "return _ready + _params->sendTimeout;", "return Clock::time_point::max();",
      ["ClassifyConnectionTest"], what="a client that does not read its answer is kept forever"),
    M("road-request-deadline-unarmed", "server", "deadline not armed",
      "src-server/server/ClassifyConnection.cpp",
      "return std::min(_lastByte + _params->idleTimeout, _connected + _params->requestTimeout);",
      "return _lastByte + _params->idleTimeout;",
      ["ClassifyConnectionTest"], what="a client trickling its request is never cut off"),
    M("road-connection-limit-bound", "server", "bound off by one",
      "shared/net/server/EventServer.cpp",
      "if (_sessions.size() >= _maxConnections) {", "if (_sessions.size() > _maxConnections) {",
      ["ClassifyConnectionTest"], what="one connection more than the limit is admitted"),
    M("road-answer-timer-dropped", "server", "statement dropped",
      "shared/net/server/EventServer.cpp",
      "        armTimer(session);\n        asio::async_write(",
      "        asio::async_write(",
      ["ClassifyConnectionTest"], what="no timer runs while an answer is sent"),
    M("road-answer-rest-from-start", "server", "expression changed",
      "shared/net/server/EventServer.cpp",
      "asio::buffer(answer) + sent.bytes,", "asio::buffer(answer),",
      ["ClassifyConnectionTest"], what="the rest of an answer is sent from its start again"),
    M("road-worker-longest-idle", "server", "order changed",
      "shared/net/server/EventServer.cpp",
      "IdleSlot* slot = _idle.back();\n        _idle.pop_back();",
      "IdleSlot* slot = _idle.front();\n        _idle.erase(_idle.begin());",
      ["ClassifyConnectionTest"], what="the reactor goes to the thread that has been idle longest"),
    M("road-lone-request-unwatched", "server", "statement dropped",
      "shared/net/server/EventServer.cpp",
      "if (!alone || !_watching) next = callIdle();", "if (!alone) next = callIdle();",
      ["ClassifyConnectionTest"], what="a lone client's request leaves the reactor to nobody"),
    M("road-watch-never-takes", "server", "condition dropped",
      "shared/net/server/EventServer.cpp",
      "if (left && !_leading && _leads == leads) {",
      "if (left && !_leading && _leads == leads && false) {",
      ["ClassifyConnectionTest"], what="a watching thread never takes the reactor left alone"),
    M("evict-journal-not-folded", "server", "statement dropped",
      "src-server/server/JobDistributionImpl.cpp",
      "    if (classifier.tryLockWriter()) {", "    if (false) {",
      ["RepositoryTest"], what="an evicted classifier keeps its journal until the orderly stop"),
    M("evict-journaled-memory-uncounted", "server", "statement dropped",
      "src-server/server/JobDistributionImpl.cpp",
      "        if (journaled->classifier) return false;\n", "",
      ["RepositoryTest"], what="eviction goes on before an evicted classifier with a journal is released"),
    M("evict-fold-while-read", "server", "condition dropped",
      "src-server/server/ThreadSafeClassifier.cpp",
      "    if (_writer || _readers != 0 || !_pending.empty()) return false;",
      "    if (_writer || !_pending.empty()) return false;",
      ["RepositoryTest"], what="the writer lock of an evicted classifier is taken while it is read"),
    M("store-read-without-version-check", "server", "condition dropped",
      "src-server/server/StoreJobDistribution.cpp",
      "        if (committedVersion(storeKey) == cached->storeVersion()) return cached;",
      "        return cached;",
      ["SharedStoreTest"], what="a cached classifier answers without the other servers' commits"),
    M("store-read-shares-an-older-query", "server", "bound off by one",
      "src-server/server/StoreJobDistribution.cpp",
      "    const std::uint64_t needed = queries.started + 1;",
      "    const std::uint64_t needed = queries.started;",
      ["SharedStoreTest"], what="a read uses a version query that started before it arrived"),
    M("store-write-without-catch-up", "server", "condition dropped",
      "src-server/server/StoreJobDistribution.cpp",
      "    if (version != classifier.storeVersion()) {", "    if (false) {",
      ["SharedStoreTest"], what="a write applies on top of a stale cached classifier"),
    M("store-create-over-existing", "server", "condition dropped",
      "src-server/server/StoreJobDistribution.cpp",
      "    if (creating && version != 0) {", "    if (false) {",
      ["SharedStoreTest"], what="two servers both create one name"),
    M("store-follower-catches-nothing-up", "server", "statement dropped",
      "src-server/server/StoreJobDistribution.cpp",
      "    if (stored) apply(storeKey, *stored, *cached);", "    if (false && stored) apply(storeKey, *stored, *cached);",
      ["SharedStoreTest"], what="announced commits are left for the next read"),
    M("store-dead-idle-connection-reused", "server", "condition dropped",
      "src-server/server/PostgresClassifierStore.cpp",
      "if (idle.fd >= 0 && ::poll(&idle, 1, 0) == 0) return",
      "if (idle.fd >= 0 && ::poll(&idle, 1, 0) >= 0) return",
      ["SharedStoreTest"], what="a pooled connection the database ended fails the next request"),
    M("store-lock-waited-for-without-end", "server", "statement dropped",
      "src-server/server/PostgresClassifierStore.cpp",
      'std::string options = "-c lock_timeout=" + std::to_string(lockTimeout.count());',
      'std::string options = "-c lock_timeout=" + std::to_string(0 * lockTimeout.count());',
      ["PostgresClassifierStoreTest"], what="a writer waits for good for a lock another server holds"),
    M("store-group-lock-let-go-between-commits", "server", "lock released early",
      "src-server/server/PostgresClassifierStore.cpp",
      'commit.send("BEGIN", Params(), PGRES_COMMAND_OK)',
      'commit.send("SELECT pg_advisory_unlock_all()", Params()).send("BEGIN", Params(), PGRES_COMMAND_OK)',
      ["PostgresClassifierStoreTest"], what="a group lets other servers commit between its commits"),
    M("store-group-keeps-lock-after-last-sequence", "server", "condition dropped",
      "src-server/server/StoreJobDistribution.cpp",
      "    if (ended->transaction && !ended->committing && (ended->failed || ended->records.empty())) {",
      "    if (false && ended->transaction && !ended->committing) {",
      ["SharedStoreTest"], what="a group holds the lock after its last sequence"),
    M("store-group-commit-drops-records", "server", "statement dropped",
      "src-server/server/StoreJobDistribution.cpp",
      "            transaction.append(records);\n            version = transaction.commitKeepingLock();",
      "            version = transaction.commitKeepingLock();",
      ["SharedStoreTest"], what="records appended during a group are never stored"),
    # --- log ------------------------------------------------------------------------------------
    M("log-rotation-bound", "server", "bound off by one",
      "src-server/server/LogImpl.cpp",
      "_fileBytes + lineBytes <= maxBytes", "_fileBytes + lineBytes < maxBytes",
      ["LogTest"], what="the log rotates when a line would fill it exactly to the bound"),
    M("log-lock-dropped", "server", "lock released early",
      "src-server/server/LogImpl.cpp",
      "    AutoLock<MutexImpl> lock(&_lock);\n    if (!accepts(loglevel::Log)) return;\n",
      "    if (!accepts(loglevel::Log)) return;\n",
      ["LogTest"], what="log lines are written without the log's lock"),
    M("log-crash-report-limit", "server", "bound off by one",
      "src-server/server/CrashReportBudget.cpp",
      "return now - entry.second >= KindInterval || now < entry.second;",
      "return now - entry.second > KindInterval || now < entry.second;",
      ["LogTest"], what="a second report of one kind of error waits a second longer than the interval"),
    M("log-file-kept-over-rotation", "server", "statement dropped",
      "src-server/server/LogImpl.cpp",
      "    _file.reset();\n    _rotateFile->rotate(", "    _rotateFile->rotate(",
      ["LogTest"], what="after a rotation the lines go on into the file moved aside"),
    M("log-journal-priority", "server", "value changed",
      "src-server/server/LogImpl.cpp",
      'return "<3>";', 'return "<4>";',
      ["LogTest"], what="error lines reach the journal as warnings"),
    # --- configuration --------------------------------------------------------------------------
    M("cfg-save-requests-test-mode", "server", "condition dropped",
      "src-server/server/ConfigurationFile.cpp",
      'flag(text(root, "qm:saveRequests")) && !testMode;',
      'flag(text(root, "qm:saveRequests"));\n    static_cast<void>(testMode);',
      ["ConfigurationFileTest"], what="the self test archives requests"),
    M("cfg-flag-one", "server", "condition dropped",
      "src-server/server/ConfigurationFile.cpp",
      'return lowered == "true" || lowered == "1";', 'return lowered == "true";',
      ["ConfigurationFileTest"], what='a flag written "1" reads as false'),
    M("cfg-log-count-bound", "server", "bound off by one",
      "src-server/server/ConfigurationFile.cpp",
      "constexpr std::int64_t MaxLogFileCount = 1000;", "constexpr std::int64_t MaxLogFileCount = 999;",
      ["ConfigurationFileTest"], what="1000 kept log files are refused"),
    # --- start-up and service control -----------------------------------------------------------
    M("start-no-arguments", "server", "bound off by one",
      "src-server/server/Startup.cpp",
      "if (argc < 2) throw", "if (argc < 1) throw",
      ["StartupTest"], what="a start without arguments is not refused as such"),
    M("start-failure-exit", "server", "exit code changed",
      "src-server/server/Startup.cpp",
      "    return 1;\n}", "    return 0;\n}",
      ["StartupTest"], what="a failed start-up exits with 0"),
    M("start-test-mode-stop", "server", "statement dropped",
      "src-server/server/Startup.cpp",
      "        _stopEvent.set();\n", "",
      ["StartupTest"], what="the self test mode does not stop after its run"),
    M("svc-stop-control", "server", "statement dropped",
      "src-server/server/ServerService.cpp",
      "            _stopEvent->set();\n", "",
      ["ServerServiceTest"], what="the stop control of the service manager does not stop the server"),
    # --- posix file writing and platform --------------------------------------------------------
    M("file-fsync-skipped", "platform", "fsync skipped",
      "shared/io/filesystem/SaveFileImpl.cpp",
      "if (!writeAll(file.get(), bytes.data(), bytes.size()) || ::fsync(file.get()) != 0 ||",
      "if (!writeAll(file.get(), bytes.data(), bytes.size()) ||",
      ["IoTest"], what="the new content is not flushed before the rename"),
    M("file-folder-sync-before-rename", "platform", "rename order swapped",
      "shared/io/filesystem/SaveFileImpl.cpp",
      "    if (::rename(temporary.name().c_str(), path.c_str()) != 0) fail(WriteFailed, path, errno);\n"
      "    temporary.renamed();\n"
      "    if (!syncFolder(folder)) fail(WriteFailed, path, errno);\n",
      "    if (!syncFolder(folder)) fail(WriteFailed, path, errno);\n"
      "    if (::rename(temporary.name().c_str(), path.c_str()) != 0) fail(WriteFailed, path, errno);\n"
      "    temporary.renamed();\n",
      ["IoTest"], what="the folder is flushed before the rename, so the rename is not durable"),
    M("file-rotate-order", "platform", "rename order swapped",
      "shared/io/filesystem/RotateFileImpl.cpp",
      "for (int n = keep - 1; n >= 0; --n) {", "for (int n = 0; n < keep; ++n) {",
      ["IoTest", "LogTest"], what="log copies are renamed oldest last, overwriting each other"),
    M("plat-named-lock-shared", "platform", "lock weakened",
      "shared/platform/mutex/NamedMutexImpl.cpp",
      "result = ::flock(file.descriptor(), LOCK_EX);", "result = ::flock(file.descriptor(), LOCK_SH);",
      ["PlatformLockTest"], what="the named file lock is taken shared"),
    M("plat-named-lock-recursion", "platform", "lock released early",
      "shared/platform/mutex/NamedMutexImpl.cpp",
      "if (--_lockCount > 0) return;", "if (--_lockCount > 1) return;",
      ["PlatformLockTest"], what="a named lock taken twice is released at the first unlock"),
    # --- client ---------------------------------------------------------------------------------
    M("cli-port-bound", "platform", "bound off by one",
      "src-client/client/CommandLine.cpp",
      "std::stoul(text) > 65535", "std::stoul(text) > 65536",
      ["ClientTest"], what="port 65536 accepted"),
    M("cli-inputs-bound", "platform", "bound off by one",
      "src-client/client/CommandLine.cpp",
      "if (operands.size() - next > form.maxInputs) throw wrongCount();",
      "if (operands.size() - next >= form.maxInputs) throw wrongCount();",
      ["ClientTest"], what="a command refuses its largest number of inputs"),
    M("cli-protocol-version", "platform", "condition dropped",
      "src-client/client/CommandLine.cpp",
      'if (text != "1.00" && text != "1.01") {', 'if (text != "1.00") {',
      ["ClientTest"], what="--version 1.01 is refused"),
    M("cli-error-exit-code", "platform", "exit code changed",
      "src-client/client/CommandRunner.cpp",
      "        return flushed(_environment, exitStatus::ErrorDocument);",
      "        return flushed(_environment, exitStatus::Unreachable);",
      ["ClientCommandTest"], what="an error document exits like an unreachable server"),
]


def select(args):
    area = only = None
    i = 0
    while i < len(args):
        if args[i] == "--area":
            area = args[i + 1]
            i += 2
        elif args[i] == "--only":
            only = args[i + 1]
            i += 2
        else:
            sys.exit("unknown argument " + args[i])
    chosen = [m for m in MUTANTS if (area is None or m.area == area) and
              (only is None or m.id == only or m.id in only.split(","))]
    if not chosen:
        sys.exit("no mutant matches")
    # Taken in turns from each subsystem (the id's first word), so that a run cut short has
    # still tried every subsystem.
    groups = {}
    for m in chosen:
        groups.setdefault(m.id.split("-")[0], []).append(m)
    turns = []
    while any(groups.values()):
        for queue in groups.values():
            if queue:
                turns.append(queue.pop(0))
    return turns


def by_id(ident):
    for m in MUTANTS:
        if m.id == ident:
            return m
    sys.exit("no mutant " + ident)


def apply(ident, root, backup):
    m = by_id(ident)
    path = os.path.join(root, m.file)
    if not os.path.isfile(path):
        return 3
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if text.count(m.find) != 1:
        return 3
    shutil.copyfile(path, backup)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text.replace(m.find, m.replace))
    return 0


def tests(build, targets):
    out = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"],
                         capture_output=True, text=True, check=True).stdout
    wanted = set(targets)
    numbers = []
    for number, test in enumerate(json.loads(out)["tests"], start=1):
        command = test.get("command") or []
        if command and os.path.basename(command[0]) in wanted:
            numbers.append(str(number))
    print(",".join(numbers))


def ctest_programs(build):
    """{program name: absolute path} of the test programs ctest knows."""
    out = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"],
                         capture_output=True, text=True, check=True).stdout
    programs = {}
    for test in json.loads(out)["tests"]:
        command = test.get("command") or []
        if command:
            programs[os.path.basename(command[0])] = command[0]
    return programs


def build_targets(build):
    out = subprocess.run(["cmake", "--build", build, "--target", "help"],
                         capture_output=True, text=True).stdout
    return {line[4:].split()[0] for line in out.splitlines() if line.startswith("... ")}


def owners(path, build):
    """The CMake targets that compile path (a source) or include it (a header)."""
    found = set()
    for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
        match = re.search(r" -o (\S+)", entry.get("command", ""))
        output = match.group(1) if match else ""
        target = output.split("CMakeFiles/")[1].split(".dir/")[0] if "CMakeFiles/" in output else ""
        if not target:
            continue
        if os.path.realpath(entry["file"]) == path:
            found.add(target)
            continue
        depfile = os.path.join(entry["directory"], output + ".d")
        if path.endswith((".h", ".hpp")) and os.path.isfile(depfile):
            with open(depfile, encoding="utf-8", errors="replace") as f:
                names = f.read().replace("\\\n", " ").split()
            # The compiler cache may have written the paths relative to the object's folder.
            if any(os.path.basename(name) == os.path.basename(path) and
                   os.path.realpath(os.path.join(entry["directory"], name)) == path
                   for name in names):
                found.add(target)
    return found


def auto_targets(m, root, build):
    path = os.path.realpath(os.path.join(root, m.file))
    libs = owners(path, build)
    chosen = []
    for name, program in sorted(ctest_programs(build).items()):
        link = os.path.join(os.path.dirname(program), "CMakeFiles", name + ".dir", "link.txt")
        linked = open(link).read() if os.path.isfile(link) else ""
        if name in libs or any("lib%s.a" % lib in linked for lib in libs):
            chosen.append(name)
    return chosen


def targets(ident, build, known):
    m = by_id(ident)
    present = [t for t in m.targets if t in known]
    if present:
        return present
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    chosen = auto_targets(m, root, build)
    print("%s: none of %s exists here; testing with %s" % (ident, " ".join(m.targets),
          " ".join(chosen) or "nothing"), file=sys.stderr)
    return chosen


def markdown(results, summary, elapsed):
    print("| Mutant | Area | Kind | File | Fault | Result | First failing test |")
    print("|---|---|---|---|---|---|---|")
    for line in open(results, encoding="utf-8"):
        ident, status, _seconds, note = (line.rstrip("\n").split("\t") + [""])[:4]
        m = by_id(ident)
        print("| %s | %s | %s | %s | %s | %s | %s |" % (
            ident, m.area, m.kind, m.file.split("/")[-1], m.what, status, note))
    print()
    print("%s (%s)." % (summary, elapsed))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "ids":
        for m in select(args):
            print(m.id)
    elif cmd == "show":
        value = getattr(by_id(args[0]), args[1])
        print(" ".join(value) if isinstance(value, list) else value)
    elif cmd == "apply":
        sys.exit(apply(*args))
    elif cmd == "tests":
        tests(args[0], args[1:])
    elif cmd == "markdown":
        markdown(*args)
    elif cmd == "targets":
        known = build_targets(args[0])
        for ident in args[1:]:
            print(ident + "\t" + " ".join(targets(ident, args[0], known)))
    elif cmd == "check":
        # Every snippet occurs exactly once in its file; ids are unique.
        root = args[0]
        seen = set()
        bad = 0
        for m in MUTANTS:
            if m.id in seen:
                print("duplicate id", m.id)
                bad = 1
            seen.add(m.id)
            text = open(os.path.join(root, m.file), encoding="utf-8").read()
            if text.count(m.find) != 1:
                print("stale", m.id, text.count(m.find))
                bad = 1
        sys.exit(bad)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
