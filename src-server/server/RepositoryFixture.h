#pragma once

// A repository over a temporary classifier root with the real file services (the save can be
// told to fail) and fake classifiers; restart() replaces it by a fresh one over the same files.

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "io/filesystem/ExistsFileImpl.h"
#include "io/filesystem/LoadFileImpl.h"
#include "io/filesystem/RemoveFileImpl.h"
#include "io/filesystem/SizeFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "server/JobDistributionImpl.h"
#include "server/RepositoryTestSupport.h"

namespace norvale::quillmark::testing {

class RepositoryFixture : public ::testing::Test {
protected:
    RepositoryFixture() {
        std::filesystem::create_directories(_root);
        std::filesystem::create_directories(_locks);
        restart();
    }

    void restart() {
        _repository = std::make_unique<JobDistributionImpl>(&_factory, &_memory, &_loadFile,
                                                            &_saveFile, &_existsFile, &_sizeFile,
                                                            &_removeFile, _locks);
    }

    std::string key(const std::string& name) const { return _root + "/" + name + ".dat"; }
    std::string file(const std::string& lowerName) const { return key(lowerName); }
    bool exists(const std::string& lowerName) const {
        return std::filesystem::exists(file(lowerName));
    }
    std::string content(const std::string& lowerName) const {
        return io::filesystem::test::TempFolder::read(file(lowerName));
    }
    void store(const std::string& lowerName, const std::string& data) const {
        _folder.write("classifiers/" + lowerName + ".dat", data);
    }

    io::filesystem::test::TempFolder _folder;
    const std::string _root = _folder.path("classifiers");
    const std::string _locks = _folder.path("locks");
    MemoryAccount _memory{1'000'000'000, 1};
    FakeClassifierFactory _factory{&_memory};
    io::filesystem::LoadFileImpl _loadFile;
    FailingSaveFile _saveFile;
    io::filesystem::ExistsFileImpl _existsFile;
    io::filesystem::SizeFileImpl _sizeFile;
    io::filesystem::RemoveFileImpl _removeFile;
    std::unique_ptr<JobDistributionImpl> _repository;
};

}  // namespace norvale::quillmark::testing
