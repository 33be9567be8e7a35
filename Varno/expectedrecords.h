#pragma once
// The operations that always end with a result record, and the tag that
// record carries. A run of one of them that ends well without it has lost it.

#include <QString>

namespace varno {

// The tag of the record the operation always writes; empty when it writes
// none (or its output is a system tool's).
inline QString alwaysWrittenRecordTag(const QString& identifier) {
    static constexpr struct {
        const char* identifier;
        const char* tag;
    } kRecords[] = {
        {"KVXAEUserSystemCleanCachesAuthExec", "KVXAEUserSystemCleanCachesAuthExec"},
        {"KVXAEUserSystemCleanLogsAuthExec", "KVXAEUserSystemCleanLogsAuthExec"},
        {"KVXAECleanLocalizationsAuthExec", "KVXAECleanLocalizationsAuthExec"},
        {"KVXAECleanBinariesAuthExec", "KVXAECleanBinariesAuthExec"},
        {"KVXAEQueryProcessesAuthExec", "KVXAEQueryProcessesAuthExec"},
        {"KVXAEQuerySpotlightInfoAuthExec", "KVXAEQuerySpotlightInfoAuthExec"},
        {"KVXAEDisablePreferenceFilesAuthExec",
         "KVXAEResultsDisablePreferenceFilesAuthExecDictionaryOutputKey"},
        {"KVXAERestorePreferenceFilesAuthExec",
         "KVXAEResultsRestorePreferenceFilesAuthExecDictionaryOutputKey"},
    };
    for (const auto& r : kRecords)
        if (identifier == QLatin1String(r.identifier)) return QString::fromLatin1(r.tag);
    return {};
}

}  // namespace varno
