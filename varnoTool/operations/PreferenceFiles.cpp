#include "operations/PreferenceFiles.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Protocol.h"
#include "Utilities.h"
#include "fs/copy.h"

namespace {

constexpr const char* kHoldingFolder =
    "~/Library/Application Support/Varno/DisabledPreferenceFiles/";
constexpr const char* kUserPreferences = "~/Library/Preferences/";
constexpr const char* kMachinePreferences = "/Library/Preferences/";
constexpr const char* kHeldLocalMarker = "/DisabledPreferenceFiles/Local/";

constexpr const char* kDisableFilesKey = contract::keys::kDisableFiles.data();
constexpr const char* kRestoreFilesKey = contract::keys::kRestoreFiles.data();

// The keys of one operation's result record.
struct RecordKeys {
    const char* tag;
    const char* moved;
    const char* failed;
    const char* errors;
};

constexpr RecordKeys kDisableRecord = {
    "KVXAEResultsDisablePreferenceFilesAuthExecDictionaryOutputKey",
    "KVXAEDisabledFilesDisablePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEErrorFilesDisablePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEFileErrorsDisablePreferenceFilesExecutorDidEndInfoKey",
};

constexpr RecordKeys kRestoreRecord = {
    "KVXAEResultsRestorePreferenceFilesAuthExecDictionaryOutputKey",
    "KVXAERestoredFilesRestorePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEErrorFilesRestorePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEFileErrorsRestorePreferenceFilesExecutorDidEndInfoKey",
};

struct Outcome {
    plist::Array moved;
    plist::Array failed;
    plist::Dictionary errors;

    void succeeded(const std::string& path) { moved.emplace_back(path); }
    void failedWithoutCode(const std::string& path) { failed.emplace_back(path); }
    void failedWithCode(const std::string& path, vfs::OSErr code) {
        failed.emplace_back(path);
        errors[path] = plist::Value::integer(code);
    }

    void write(const RecordKeys& keys) {
        plist::Dictionary record;
        record[keys.moved] = plist::Value(std::move(moved));
        record[keys.failed] = plist::Value(std::move(failed));
        record[keys.errors] = plist::Value(std::move(errors));
        writeDictionaryWithID(record, keys.tag);
    }
};

// The request's paths; an absent array is empty. Entries that are not
// strings name no file and are passed over.
std::vector<std::string> requestedPaths(const plist::Dictionary& parameters, const char* key) {
    std::vector<std::string> paths;
    const plist::Value* value = requestValue(parameters, key);
    if (value == nullptr || value->asArray() == nullptr) return paths;
    for (const plist::Value& element : *value->asArray())
        if (const std::string* path = element.asString()) paths.push_back(*path);
    return paths;
}

// The name the file keeps in its new folder; absent when the path names no
// file ("/", "", "." or "..").
std::optional<std::string> fileNameOf(const std::string& path) {
    std::string name = lastPathComponent(path, false);
    if (name.empty() || name == "/" || name == "." || name == "..") return std::nullopt;
    return name;
}

std::string expanded(const char* path) {
    return expandTildeInPath(std::string(path), {}).value();
}

}  // namespace

int disablePreferenceFiles(const plist::Dictionary& parameters) {
    const std::string holding = expanded(kHoldingFolder);
    const std::string user = userFolderName();
    const std::string localPart =
        appendPathComponent(appendPathComponent(holding, "Local", true), user, true);
    const std::string userPart = appendPathComponent(holding, "User", true);

    Outcome outcome;
    for (const std::string& source : requestedPaths(parameters, kDisableFilesKey)) {
        std::optional<std::string> name = fileNameOf(source);
        if (!name) {
            printText("\tError: Count not create destination path with for source path %s\n",
                      plist::displayForm(source).c_str());
            outcome.failedWithoutCode(source);
            continue;
        }
        // Any path that mentions the user's folder name counts as the user's own.
        const std::string& folder = stringContainsSubstring(source, user) ? localPart : userPart;
        const std::string destination = appendPathComponent(folder, *name, false);
        printText("\tMoving %s to %s...\n", plist::displayForm(source).c_str(),
                  plist::displayForm(destination).c_str());

        vfs::OSErr err = vfs::dupFNErr;
        if (!fileOrDirectoryExistsAtPath(destination, false))
            err = vfs::FSPathMoveObjectSync(source, folder, nullptr, nullptr,
                                            vfs::kFSFileOperationDefaultOptions);
        if (err == vfs::noErr) {
            outcome.succeeded(source);
            continue;
        }
        if (err == vfs::dupFNErr) {
            printText(
                "\t***Error: A file named %s already exists at the path %s.\n"
                "\tManually backup the old file and try again.\n",
                plist::displayForm(*name).c_str(), plist::displayForm(destination).c_str());
        } else {
            printText("\t***Error %ld moving %s\n", static_cast<long>(err),
                      plist::displayForm(source).c_str());
        }
        outcome.failedWithCode(source, err);
    }
    outcome.write(kDisableRecord);
    return 0;
}

int restorePreferenceFiles(const plist::Dictionary& parameters) {
    const std::string userPreferences = expanded(kUserPreferences);

    Outcome outcome;
    for (const std::string& source : requestedPaths(parameters, kRestoreFilesKey)) {
        std::optional<std::string> name = fileNameOf(source);
        if (!name) {
            printText("\tError creating destination path with for source path %s\n",
                      plist::displayForm(source).c_str());
            outcome.failedWithoutCode(source);
            continue;
        }
        const std::string folder = stringContainsSubstring(source, kHeldLocalMarker)
                                       ? userPreferences
                                       : std::string(kMachinePreferences);
        const std::string destination = appendPathComponent(folder, *name, false);
        printText("\tMoving %s to %s...\n", plist::displayForm(source).c_str(),
                  plist::displayForm(destination).c_str());

        vfs::OSErr err = vfs::FSPathMoveObjectSync(source, folder, nullptr, nullptr,
                                                   vfs::kFSFileOperationOverwrite);
        if (err == vfs::noErr) {
            outcome.succeeded(source);
            continue;
        }
        printText("\tError %ld moving %s\n", static_cast<long>(err),
                  plist::displayForm(source).c_str());
        outcome.failedWithCode(source, err);
    }
    outcome.write(kRestoreRecord);
    return 0;
}
