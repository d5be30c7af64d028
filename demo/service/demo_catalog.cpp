#include "demo_catalog.h"

#include <array>

namespace demo {

namespace {

// 2026-05-04 08:00 UTC, start of the sample examination period.
constexpr std::int64_t periodStart = 1777881600;
constexpr std::int64_t day = 86400;
// 2013-06-03 09:00 UTC: one timetable predates the cut-off of 2014.
constexpr std::int64_t legacyStart = 1370250000;

struct Subject
{
    const char *name;
    const char *abbreviation;
};

constexpr std::array<Subject, 10> subjects = {{
        {"Mathematics", "MA"},
        {"English", "EN"},
        {"Physics", "PH"},
        {"Chemistry", "CH"},
        {"Biology", "BI"},
        {"History", "HI"},
        {"Geography", "GE"},
        {"French", "FR"},
        {"Economics", "EC"},
        {"Computer Science", "CS"},
}};

constexpr std::array<const char *, 8> places
        = {"North", "South", "East", "West", "Central", "Harbour", "Hill", "River"};
constexpr std::array<const char *, 5> kinds = {"Hall", "College", "School", "Centre", "Academy"};

std::string zeroPad(int value, int width)
{
    std::string s = std::to_string(value);
    if (static_cast<int>(s.size()) < width)
        s.insert(0, static_cast<std::size_t>(width) - s.size(), '0');
    return s;
}

} // namespace

std::string rfidText(const std::vector<std::uint8_t> &bytes)
{
    std::uint64_t number = 0;
    for (std::uint8_t b : bytes)
        number = (number << 8) | b;
    return std::to_string(static_cast<std::int64_t>(number));
}

DemoCatalog::DemoCatalog()
{
    m_centres.reserve(centreCount);
    for (int i = 0; i < centreCount; ++i) {
        const char *place = places[static_cast<std::size_t>(i) % places.size()];
        const char *kind = kinds[static_cast<std::size_t>(i / 8) % kinds.size()];
        DemoCentre c;
        c.pointId = "P" + zeroPad(i + 1, 4);
        c.name = std::string(place) + " " + kind + " " + std::to_string(i / 40 + 1);
        c.abbreviation = std::string(1, place[0]) + kind[0] + std::to_string(i + 1);
        m_centres.push_back(std::move(c));
    }

    m_tables.reserve(tableCount);
    for (int i = 0; i < tableCount; ++i) {
        const Subject &s = subjects[static_cast<std::size_t>(i) % subjects.size()];
        const int paper = i / static_cast<int>(subjects.size()) + 1;
        DemoTimetable t;
        t.tableId = "T" + std::to_string(1001 + i);
        t.subject = std::string(s.name) + " Paper " + std::to_string(paper);
        t.abbreviation = std::string(s.abbreviation) + std::to_string(paper);
        t.startTime = periodStart + (i / 4) * day + (i % 4) * 3 * 3600;
        t.endTime = t.startTime + 2 * 3600;
        // Every 25th table is written at every centre, so its centre list spans three pages.
        t.centreCount = (i % 25 == 0) ? centreCount : 3 + (i * 7) % 40;
        m_tables.push_back(std::move(t));
    }
    m_tables[6].startTime = legacyStart;
    m_tables[6].endTime = legacyStart + 2 * 3600;

    m_locks = {
            {{0x04, 0xA3, 0x1F},
             "L7",
             "Blue case 7",
             28.0473,
             -26.2041,
             "CLOSED",
             "COMMISSIONED",
             true},
            {{0x00, 0x12, 0x34, 0x56},
             "L12",
             "Grey case 12",
             28.0480,
             -26.2050,
             "OPEN",
             "UNCOMMISSIONED",
             true},
            {{0x0A, 0xBC, 0xDE, 0xF0, 0x11},
             "L23",
             "Red case 23",
             28.0491,
             -26.2062,
             "CLOSED",
             "PENDING",
             true},
            {{0xDE, 0xAD, 0xBE, 0xEF},
             "L31",
             "Green case 31",
             28.0502,
             -26.2071,
             "CLOSED",
             "PENDING",
             false},
            // A tag the service does not know.
            {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09},
             "",
             "",
             0.0,
             0.0,
             "",
             "",
             false},
    };
}

const DemoTimetable *DemoCatalog::findTable(const std::string &tableId) const
{
    for (const DemoTimetable &t : m_tables) {
        if (t.tableId == tableId)
            return &t;
    }
    return nullptr;
}

const DemoLock *DemoCatalog::findLockByRfid(const std::string &text) const
{
    for (const DemoLock &l : m_locks) {
        if (!l.lockId.empty() && rfidText(l.rfid) == text)
            return &l;
    }
    return nullptr;
}

const DemoLock *DemoCatalog::findLockById(const std::string &lockId) const
{
    if (lockId.empty())
        return nullptr;
    for (const DemoLock &l : m_locks) {
        if (l.lockId == lockId)
            return &l;
    }
    return nullptr;
}

int DemoCatalog::centreIndex(const DemoTimetable &table, const std::string &pointId) const
{
    for (int i = 0; i < table.centreCount; ++i) {
        if (m_centres[static_cast<std::size_t>(i)].pointId == pointId)
            return i;
    }
    return -1;
}

int DemoCatalog::examSchedId(int tableIndex, int centreIndex)
{
    return (tableIndex + 1) * 10000 + centreIndex + 1;
}

int DemoCatalog::tableIndex(const DemoTimetable &table) const
{
    return static_cast<int>(&table - m_tables.data());
}

} // namespace demo
