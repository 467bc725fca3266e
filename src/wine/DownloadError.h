#pragma once

#include <optional>
#include <string>

// Why a Wine runtime installation failed. Three cases carry a text, two do
// not; the text is for the log and the caller, never shown as is by this type.
struct DownloadError {
    enum class Kind {
        networkError,      // invalid URL, transfer failure, download could not be saved
        extractionFailed,  // tar could not run or failed, no Wine in the archive, install move failed
        versionMismatch,   // installed, but the runtime does not report the required version
        checksumMismatch,  // the archive's SHA-256 differs from the expected one
        diskSpaceLow,      // fewer than 2,000,000,000 bytes free before the download
    };

    Kind kind;
    std::string message;  // empty for checksumMismatch and diskSpaceLow

    static DownloadError networkError(std::string text) { return {Kind::networkError, std::move(text)}; }
    static DownloadError extractionFailed(std::string text) { return {Kind::extractionFailed, std::move(text)}; }
    static DownloadError versionMismatch(std::string text) { return {Kind::versionMismatch, std::move(text)}; }
    static DownloadError checksumMismatch() { return {Kind::checksumMismatch, {}}; }
    static DownloadError diskSpaceLow() { return {Kind::diskSpaceLow, {}}; }

    friend bool operator==(const DownloadError&, const DownloadError&) = default;
};

// The outcome of an installation: absent on success.
using DownloadResult = std::optional<DownloadError>;
