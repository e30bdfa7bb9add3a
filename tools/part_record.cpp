// Comparing the records of what band parts were rendered from.
#include "tools/part_record.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "diagnostics/diagnostics.h"

namespace quorva {

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Record {
    bool present = false;
    Fields fields;
};

[[noreturn]] void failBand(std::size_t index, const BandPart& part, const std::string& what) {
    fatal("Band %d (rows %d to %d): %s %s", static_cast<int>(index), part.firstRow, part.lastRow,
          part.path.c_str(), what.c_str());
}

Record readRecord(std::size_t index, const BandPart& part) {
    Record record;
    const std::string path = partRecordPath(part.path);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) return record;
    std::ifstream in(path);
    if (!in) failBand(index, part, "has an unreadable record " + path);
    record.present = true;
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        if (space == 0 || space == std::string::npos)
            failBand(index, part, "has a damaged record " + path);
        record.fields.emplace_back(line.substr(0, space), line.substr(space + 1));
    }
    if (in.bad() || record.fields.empty()) failBand(index, part, "has a damaged record " + path);
    return record;
}

std::string describe(const std::string& key) {
    if (key == "scene") return "scene or shader file text";
    return key;
}

// The first key whose value differs between two records (a key missing from one counts), or "".
std::string firstDifference(const Fields& a, const Fields& b) {
    for (const auto& [key, value] : a) {
        const std::string* other = nullptr;
        for (const auto& field : b)
            if (field.first == key) other = &field.second;
        if (!other || *other != value) return key;
    }
    for (const auto& field : b) {
        bool found = false;
        for (const auto& mine : a) found = found || mine.first == field.first;
        if (!found) return field.first;
    }
    return "";
}

}  // namespace

std::string partRecordPath(const std::string& partPath) {
    return partPath + ".source";
}

bool checkPartRecords(const std::vector<BandPart>& parts) {
    std::vector<Record> records;
    std::size_t withRecord = parts.size();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        records.push_back(readRecord(i, parts[i]));
        if (records.back().present && withRecord == parts.size()) withRecord = i;
    }
    if (withRecord == parts.size()) return false;
    const Record& reference = records[withRecord];
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (!records[i].present)
            failBand(i, parts[i], "has no record of what it was rendered from, while band " +
                                      std::to_string(withRecord) + " has one");
        const std::string key = firstDifference(reference.fields, records[i].fields);
        if (!key.empty())
            failBand(i, parts[i], "was rendered from another " + describe(key) + " than band " +
                                      std::to_string(withRecord));
    }
    return true;
}

}  // namespace quorva
