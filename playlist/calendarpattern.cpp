#include "playlist/calendarpattern.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>

namespace {

constexpr size_t kMaxText = 256;
constexpr std::array<const char*, 7> kDayNames = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<const char*, 7> kLongDayNames = {"monday", "tuesday",  "wednesday", "thursday",
                                                      "friday", "saturday", "sunday"};

struct Shorthand {
    const char* name;
    const char* expansion;
};
constexpr std::array<Shorthand, 9> kShorthands = {{
    {"minutely", "*-*-* *:*:00"},
    {"hourly", "*-*-* *:00:00"},
    {"daily", "*-*-* 00:00:00"},
    {"weekly", "Mon *-*-* 00:00:00"},
    {"monthly", "*-*-01 00:00:00"},
    {"quarterly", "*-01,04,07,10-01 00:00:00"},
    {"semiannually", "*-01,07-01 00:00:00"},
    {"yearly", "*-01-01 00:00:00"},
    {"annually", "*-01-01 00:00:00"},
}};

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos) {
            return parts;
        }
        start = at + 1;
    }
}

// The words of a text, split at white space.
std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0) {
            ++at;
        }
        const size_t start = at;
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) == 0) {
            ++at;
        }
        if (at > start) {
            words.push_back(text.substr(start, at - start));
        }
    }
    return words;
}

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// A weekday's index (Monday 0) from its short or long name, or -1.
int DayIndex(std::string_view name) {
    const std::string lower = Lower(name);
    for (size_t i = 0; i < kDayNames.size(); ++i) {
        if (lower == Lower(kDayNames[i]) || lower == kLongDayNames[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysIn(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[static_cast<size_t>(month - 1)];
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int year, int month, int day) {
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<int64_t>(era) * 146097 + doe - 719468;
}

// Monday 0 .. Sunday 6; 1970-01-01 was a Thursday.
int Weekday(int year, int month, int day) {
    const int64_t days = DaysFromCivil(year, month, day);
    return static_cast<int>(((days % 7) + 7 + 3) % 7);
}

// A wall-clock time as one number that orders like the time itself.
int64_t WallKey(int year, int month, int day, int hour, int minute, int second) {
    return ((((static_cast<int64_t>(year) * 13 + month) * 32 + day) * 24 + hour) * 60 + minute) *
               60 +
           second;
}

int64_t WallKeyOf(time_t instant) {
    std::tm local{};
    ::localtime_r(&instant, &local);
    return WallKey(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                   local.tm_min, local.tm_sec);
}

}  // namespace

int64_t LocalInstant(int year, int month, int day, int hour, int minute, int second) {
    const int64_t wanted = WallKey(year, month, day, hour, minute, second);
    int64_t best = -1;
    std::array<time_t, 3> probes{};
    size_t count = 0;
    // Each reading of the time as standard time, as summer time and as the library guesses;
    // the earliest whose clock shows the very time is its first occurrence.
    for (const int dst : {-1, 0, 1}) {
        std::tm parts{};
        parts.tm_year = year - 1900;
        parts.tm_mon = month - 1;
        parts.tm_mday = day;
        parts.tm_hour = hour;
        parts.tm_min = minute;
        parts.tm_sec = second;
        parts.tm_isdst = dst;
        const time_t instant = std::mktime(&parts);
        if (instant == static_cast<time_t>(-1)) {
            continue;
        }
        probes[count++] = instant;
        if (WallKeyOf(instant) == wanted && (best == -1 || instant < best)) {
            best = instant;
        }
    }
    if (best != -1 || count == 0) {
        return best;
    }
    // The clocks skip it: the first instant whose clock shows a later time. The readings as
    // standard and as summer time lie either side of the jump.
    int64_t low = *std::min_element(probes.begin(), probes.begin() + count);
    int64_t high = *std::max_element(probes.begin(), probes.begin() + count);
    if (low == high) {
        low -= 86400;
        high += 86400;
    }
    if (WallKeyOf(static_cast<time_t>(high)) <= wanted) {
        return high;
    }
    while (low + 1 < high) {
        const int64_t middle = low + (high - low) / 2;
        if (WallKeyOf(static_cast<time_t>(middle)) > wanted) {
            high = middle;
        } else {
            low = middle;
        }
    }
    return high;
}

bool CalendarPattern::Field::Matches(int value) const {
    if (spans.empty()) {
        return true;
    }
    return std::any_of(spans.begin(), spans.end(), [value](const Span& span) {
        return value >= span.first && value <= span.last && (value - span.first) % span.step == 0;
    });
}

int CalendarPattern::Field::NextFrom(int from, int top) const {
    for (int value = from; value <= top; ++value) {
        if (Matches(value)) {
            return value;
        }
    }
    return -1;
}

bool CalendarPattern::Refuse(std::string reason) {
    m_reason = std::move(reason);
    return false;
}

CalendarPattern CalendarPattern::Parse(std::string_view text) {
    CalendarPattern pattern;
    if (text.size() > kMaxText) {
        pattern.Refuse("the time is longer than " + std::to_string(kMaxText) + " characters");
        return pattern;
    }
    for (const char c : text) {
        if (std::iscntrl(static_cast<unsigned char>(c)) != 0 && c != '\t') {
            pattern.Refuse("the time holds a control character");
            return pattern;
        }
    }
    const std::vector<std::string_view> tokens = Words(text);
    if (tokens.empty()) {
        pattern.Refuse("the time is empty");
        return pattern;
    }
    if (tokens.size() == 1) {
        const std::string lower = Lower(tokens[0]);
        for (const Shorthand& shorthand : kShorthands) {
            if (lower == shorthand.name) {
                return Parse(shorthand.expansion);
            }
        }
    }
    size_t next = 0;
    if (std::isalpha(static_cast<unsigned char>(tokens[0][0])) != 0) {
        if (!pattern.ParseWeekdays(tokens[0])) {
            return pattern;
        }
        ++next;
    }
    pattern.ParseParts(
        std::vector<std::string_view>(tokens.begin() + static_cast<long>(next), tokens.end()));
    return pattern;
}

bool CalendarPattern::ParseParts(const std::vector<std::string_view>& tokens) {
    bool haveDate = false;
    bool haveTime = false;
    for (const std::string_view token : tokens) {
        if (std::isalpha(static_cast<unsigned char>(token[0])) != 0) {
            return Refuse("\"" + std::string(token) +
                          "\": a time zone cannot be named; times are the machine's local time");
        }
        if (token.find(':') != std::string_view::npos) {
            if (haveTime) {
                return Refuse("the time names two times of day");
            }
            haveTime = true;
            if (!ParseTime(token)) {
                return false;
            }
        } else if (token.find('-') != std::string_view::npos) {
            if (haveDate || haveTime) {
                return Refuse(haveDate ? "the time names two dates"
                                       : "the date comes before the time of day");
            }
            haveDate = true;
            if (!ParseDate(token)) {
                return false;
            }
        } else {
            return Refuse("\"" + std::string(token) +
                          "\" is neither a date (Y-M-D) nor a time of day (H:M)");
        }
    }
    return haveTime || ParseTime("00:00:00");
}

bool CalendarPattern::ParseWeekdays(std::string_view text) {
    uint8_t days = 0;
    for (const std::string_view item : Split(text, ',')) {
        size_t dots = item.find("..");
        size_t width = 2;
        if (dots == std::string_view::npos) {
            dots = item.find('-');
            width = 1;
        }
        const int first = DayIndex(item.substr(0, dots));
        const int last =
            dots == std::string_view::npos ? first : DayIndex(item.substr(dots + width));
        if (first < 0 || last < 0) {
            return Refuse("\"" + std::string(item) + "\" is not a weekday (Mon, Tue ... Sun)");
        }
        // A range may wrap past Sunday: "Sat..Mon".
        for (int day = first;; day = (day + 1) % 7) {
            days = static_cast<uint8_t>(days | (1U << day));
            if (day == last) {
                break;
            }
        }
    }
    m_weekdays = days;
    return true;
}

bool CalendarPattern::ParseDate(std::string_view text) {
    std::vector<std::string_view> parts = Split(text, '-');
    if (parts.size() == 2) {
        parts.insert(parts.begin(), "*");
    }
    if (parts.size() != 3) {
        return Refuse("\"" + std::string(text) + "\" is not a date (Y-M-D or M-D)");
    }
    if (parts[2].find('~') != std::string_view::npos) {
        return Refuse("days counted from the month's end (\"~\") are not supported");
    }
    return ParseField(parts[0], "year", kFirstYear, kLastYear, m_years) &&
           ParseField(parts[1], "month", 1, 12, m_months) &&
           ParseField(parts[2], "day", 1, 31, m_days);
}

bool CalendarPattern::ParseTime(std::string_view text) {
    std::vector<std::string_view> parts = Split(text, ':');
    if (parts.size() == 2) {
        parts.push_back("00");
    }
    if (parts.size() != 3) {
        return Refuse("\"" + std::string(text) + "\" is not a time of day (H:M or H:M:S)");
    }
    if (parts[2].find('.') != std::string_view::npos) {
        return Refuse("fractions of a second are not supported");
    }
    return ParseField(parts[0], "hour", 0, 23, m_hours) &&
           ParseField(parts[1], "minute", 0, 59, m_minutes) &&
           ParseField(parts[2], "second", 0, 59, m_seconds);
}

// A number of up to four digits within low..high; two-digit years are 1970-2069.
bool CalendarPattern::ParseNumber(std::string_view digits, std::string_view field, const char* name,
                                  int low, int high, int& value) {
    if (digits.empty() || digits.size() > 4 || !AllDigits(digits)) {
        return Refuse("\"" + std::string(field) + "\" is not a valid " + name);
    }
    value = std::stoi(std::string(digits));
    if (low == kFirstYear && digits.size() <= 2) {
        value += value < 70 ? 2000 : 1900;
    }
    if (value < low || value > high) {
        return Refuse(std::string("the ") + name + " " + std::string(digits) + " is out of range " +
                      std::to_string(low) + "-" + std::to_string(high));
    }
    return true;
}

bool CalendarPattern::ParseField(std::string_view text, const char* name, int low, int high,
                                 Field& field) {
    if (text == "*") {
        return true;
    }
    for (const std::string_view item : Split(text, ',')) {
        Field::Span span;
        std::string_view range = item;
        const size_t slash = item.find('/');
        if (slash != std::string_view::npos) {
            range = item.substr(0, slash);
            const std::string_view step = item.substr(slash + 1);
            if (step.empty() || step.size() > 4 || !AllDigits(step)) {
                return Refuse("\"" + std::string(item) + "\": the repetition is not a number");
            }
            span.step = std::stoi(std::string(step));
            if (span.step < 1) {
                return Refuse("\"" + std::string(item) + "\": the repetition must be at least 1");
            }
        }
        const size_t dots = range.find("..");
        if (range == "*") {
            span.first = low;
            span.last = high;
        } else if (dots != std::string_view::npos) {
            if (!ParseNumber(range.substr(0, dots), text, name, low, high, span.first) ||
                !ParseNumber(range.substr(dots + 2), text, name, low, high, span.last)) {
                return false;
            }
            if (span.first > span.last) {
                return Refuse("\"" + std::string(item) + "\": the range runs backwards");
            }
        } else {
            if (!ParseNumber(range, text, name, low, high, span.first)) {
                return false;
            }
            span.last = slash != std::string_view::npos ? high : span.first;
        }
        field.spans.push_back(span);
    }
    return true;
}

bool CalendarPattern::DayMatches(int year, int month, int day) const {
    return m_years.Matches(year) && m_months.Matches(month) && m_days.Matches(day) &&
           (m_weekdays & (1U << Weekday(year, month, day))) != 0;
}

bool CalendarPattern::TimeFrom(int& hour, int& minute, int& second) const {
    for (int h = m_hours.NextFrom(hour, 23); h >= 0; h = m_hours.NextFrom(h + 1, 23)) {
        for (int m = m_minutes.NextFrom(h == hour ? minute : 0, 59); m >= 0;
             m = m_minutes.NextFrom(m + 1, 59)) {
            const int s = m_seconds.NextFrom(h == hour && m == minute ? second : 0, 59);
            if (s >= 0) {
                hour = h;
                minute = m;
                second = s;
                return true;
            }
        }
    }
    return false;
}

int64_t CalendarPattern::NextAfter(int64_t afterSeconds) const {
    if (!Valid()) {
        return -1;
    }
    const time_t start = static_cast<time_t>(afterSeconds + 1);
    std::tm now{};
    ::localtime_r(&start, &now);
    int year = std::max(now.tm_year + 1900, kFirstYear);
    int month = now.tm_mon + 1;
    int day = now.tm_mday;
    int hour = now.tm_hour;
    int minute = now.tm_min;
    int second = now.tm_sec;
    auto nextMonth = [&] {
        day = 1;
        hour = minute = second = 0;
        if (++month > 12) {
            month = 1;
            ++year;
        }
    };
    while (year <= kLastYear) {
        if (!m_years.Matches(year)) {
            ++year;
            month = 1;
            day = 1;
            hour = minute = second = 0;
            continue;
        }
        if (!m_months.Matches(month) || day > DaysIn(year, month)) {
            nextMonth();
            continue;
        }
        if (DayMatches(year, month, day)) {
            int h = hour;
            int m = minute;
            int s = second;
            while (TimeFrom(h, m, s)) {
                const int64_t instant = LocalInstant(year, month, day, h, m, s);
                if (instant > afterSeconds) {
                    return instant;
                }
                // The first occurrence of a time the clocks showed twice has passed.
                if (++s == 60) {
                    s = 0;
                    if (++m == 60) {
                        m = 0;
                        if (++h == 24) {
                            break;
                        }
                    }
                }
            }
        }
        hour = minute = second = 0;
        if (++day > DaysIn(year, month)) {
            nextMonth();
        }
    }
    return -1;
}

std::string CalendarPattern::FieldText(const Field& field, int width, int high) {
    if (field.spans.empty()) {
        return "*";
    }
    std::string out;
    char buffer[16];
    auto put = [&](int value) {
        std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
        out += buffer;
    };
    for (const Field::Span& span : field.spans) {
        if (!out.empty()) {
            out += ',';
        }
        put(span.first);
        if (span.last != span.first && !(span.step > 1 && span.last == high)) {
            out += "..";
            put(span.last);
        }
        if (span.step > 1) {
            out += '/' + std::to_string(span.step);
        }
    }
    return out;
}

std::string CalendarPattern::WeekdayText() const {
    // Runs of three days or more as a range, shorter ones listed.
    std::string out;
    for (int day = 0; day < 7;) {
        if ((m_weekdays & (1U << day)) == 0) {
            ++day;
            continue;
        }
        int last = day;
        while (last + 1 < 7 && (m_weekdays & (1U << (last + 1))) != 0) {
            ++last;
        }
        for (int d = day; d <= last; d = last - day >= 2 ? last + 1 : d + 1) {
            if (!out.empty()) {
                out += ',';
            }
            out += kDayNames[static_cast<size_t>(d)];
            if (last - day >= 2) {
                out += "..";
                out += kDayNames[static_cast<size_t>(last)];
            }
        }
        day = last + 1;
    }
    return out;
}

std::string CalendarPattern::Normalized() const {
    if (!Valid()) {
        return {};
    }
    std::string out = m_weekdays != 0x7F ? WeekdayText() + ' ' : std::string();
    out += FieldText(m_years, 4, kLastYear) + '-' + FieldText(m_months, 2, 12) + '-' +
           FieldText(m_days, 2, 31) + ' ' + FieldText(m_hours, 2, 23) + ':' +
           FieldText(m_minutes, 2, 59) + ':' + FieldText(m_seconds, 2, 59);
    return out;
}
