#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace demo {

struct DemoTimetable
{
    std::string tableId;
    std::int64_t startTime = 0;
    std::int64_t endTime = 0;
    std::string subject;
    std::string abbreviation;
    int centreCount = 0; // the table is held at the first centreCount centres
};

struct DemoCentre
{
    std::string pointId;
    std::string name;
    std::string abbreviation;
};

struct DemoLock
{
    std::vector<std::uint8_t> rfid; // bytes the key reports for the tag
    std::string lockId;
    std::string description;
    double longitude = 0.0;
    double latitude = 0.0;
    std::string state; // "OPEN", "CLOSED"
    std::string commissionState; // "COMMISSIONED", "UNCOMMISSIONED" or anything else
    bool validates = true; // outcome of a validation request
};

// The decimal text the program derives from a scanned tag: the last eight
// bytes as a big-endian number, read as a signed 64-bit integer.
std::string rfidText(const std::vector<std::uint8_t> &bytes);

// Fixed sample data. Deterministic, so tests and the virtual key agree on it.
class DemoCatalog
{
public:
    DemoCatalog();

    const std::vector<DemoTimetable> &timetables() const { return m_tables; }
    const std::vector<DemoCentre> &centres() const { return m_centres; }
    const std::vector<DemoLock> &locks() const { return m_locks; }

    const DemoTimetable *findTable(const std::string &tableId) const;
    const DemoLock *findLockByRfid(const std::string &text) const;
    const DemoLock *findLockById(const std::string &lockId) const;
    // Index of pointId among the centres of the table, or -1.
    int centreIndex(const DemoTimetable &table, const std::string &pointId) const;
    // Identifier of the exam schedule of one table at one of its centres.
    static int examSchedId(int tableIndex, int centreIndex);
    int tableIndex(const DemoTimetable &table) const;

    static constexpr int tableCount = 250;
    static constexpr int centreCount = 2500;

private:
    std::vector<DemoTimetable> m_tables;
    std::vector<DemoCentre> m_centres;
    std::vector<DemoLock> m_locks;
};

// The demo login. Only the MD5 digest of the password is kept.
struct DemoCredentials
{
    static constexpr const char *userName = "demo";
    static constexpr const char *password = "packing";
    static constexpr const char *userId = "U-0042";
};

} // namespace demo
