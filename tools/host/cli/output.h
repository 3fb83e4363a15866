// Where tavhost's output goes: results on standard output, as text or as one JSON document per
// result; the driver's log lines on standard error (or not, while a command keeps them quiet), in
// the log file with a time stamp, and in the next JSON document; errors as one line on standard
// error.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace tavhost {

// JSON documents keep their keys in the order they were written.
using Json = nlohmann::ordered_json;

// The program's exit codes.
inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;       // the driver refused a request or it failed
inline constexpr int kExitUsage = 2;         // the command line or a file it names is wrong
inline constexpr int kExitDisagreement = 3;  // check: tavhost's rules and the driver disagree
inline constexpr int kExitInternal = 4;      // tavhost itself failed
inline constexpr int kExitStationDown = 5;   // init --require-all: a configured station is down

// Chooses JSON or text results and opens the log file (appending; none when `logFile` is empty).
// Returns false with `error` set when the log file cannot be opened.
bool ConfigureOutput(bool json, const std::string& logFile, std::string& error);
bool JsonOutput();

// A line the driver logged through `err`: it goes to the log file, waits for the next JSON
// document and, when `echo` is set, goes to standard error as "[log LEVEL] text".
void RecordDriverLog(int32_t level, const char* text, bool echo);
// Hands every line the driver logs from now on to `observer` as well (none: no longer).
void ObserveDriverLog(std::function<void(std::string_view text)> observer);
// The newest line the driver logged, with its time of day; empty before the first.
std::string LastDriverLog();
// The same line without its time.
std::string LastDriverLogText();
// How many lines the driver has logged so far.
uint64_t DriverLogCount();

// Prints `document` as one line of JSON, with the log lines recorded since the previous document
// under "log".
void EmitDocument(Json document);

// Reports that `command` could not do its work: one line "tavhost COMMAND: message" on standard
// error, and in JSON mode `document` (by default {"command"}) with "error" added.
void ReportError(std::string_view command, std::string_view message, Json document = {});

// What a transfer's result (commands 5, 6, 7, 10) means.
std::string_view TransferResultMeaning(int32_t result);

// Local time with milliseconds, "2024-05-17 14:03:09.125": the log file's time stamps.
std::string TimeStamp();

}  // namespace tavhost
