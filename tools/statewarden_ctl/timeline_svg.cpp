#include "tools/statewarden_ctl/timeline_svg.hpp"

#include "tools/statewarden_ctl/status_text.hpp"

#include <algorithm>
#include <iomanip>
#include <sstream>

namespace tarn1::statewarden_ctl
{

namespace
{

constexpr double s_width = 1200;
constexpr double s_left = 170;
constexpr double s_right = 30;
constexpr double s_band_top = 60;
constexpr double s_band_height = 34;
constexpr double s_marks_top = s_band_top + s_band_height + 4;
constexpr double s_steps_top = s_marks_top + 28;
constexpr double s_lane = 18;

const char* const s_state_colours[] = {
    "#b8c4d6", "#7fbf7f", "#9fc5e8", "#c9b3e6", "#8c8c8c", "#f6c26b", "#e8a0a0", "#a6dcd0"};

std::string escaped(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    for (const char character : text)
    {
        switch (character)
        {
        case '&':
            result += "&amp;";
            break;
        case '<':
            result += "&lt;";
            break;
        case '>':
            result += "&gt;";
            break;
        case '"':
            result += "&quot;";
            break;
        case '\'':
            result += "&apos;";
            break;
        default:
            // Control characters are not allowed in XML 1.0 at all, and a byte beyond ASCII may not be
            // UTF-8: the daemon sends ASCII, anything else is not shown.
            result += (static_cast<unsigned char>(character) < 0x20 || static_cast<unsigned char>(character) > 0x7E)
                          ? '?'
                          : character;
            break;
        }
    }
    return result;
}

std::string number(double value)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << value;
    return text.str();
}

const char* answer_colour(const status::Client_row& row)
{
    switch (row.answer)
    {
    case status::Client_answer::state:
        return "#3a9e4f";
    case status::Client_answer::error:
        return "#d0453b";
    case status::Client_answer::timeout:
        return "#e89b2c";
    case status::Client_answer::dropped:
        return "#8a8a8a";
    }
    return "#000000";
}

const char* answer_class(const status::Client_row& row)
{
    switch (row.answer)
    {
    case status::Client_answer::state:
        return "state";
    case status::Client_answer::error:
        return "error";
    case status::Client_answer::timeout:
        return "timeout";
    case status::Client_answer::dropped:
        return "dropped";
    }
    return "unknown";
}

/// Maps a span of steady-clock milliseconds onto the drawing width.
class Time_scale
{
  public:
    Time_scale(std::uint64_t first, std::uint64_t last)
        : m_first(first)
        , m_span(static_cast<double>(std::max<std::uint64_t>(last > first ? last - first : 0, 1)))
    {
    }
    double x(std::uint64_t ms) const
    {
        const double offset = ms > m_first ? static_cast<double>(ms - m_first) : 0.0;
        return s_left + (s_width - s_left - s_right) * std::min(offset / m_span, 1.0);
    }
    /// At least 2 px, so that short spans stay visible.
    double width(std::uint64_t from, std::uint64_t to) const { return std::max(x(to) - x(from), 2.0); }

  private:
    std::uint64_t m_first;
    double m_span;
};

struct Band
{
    std::uint8_t state;
    std::uint64_t from_ms;
    std::uint64_t to_ms;
    std::uint64_t from_wall_ms;
};

std::vector<Band> bands_of(const std::vector<status::Transition_report>& reports, const Timeline_now& now)
{
    std::vector<Band> bands;
    for (const auto& report : reports)
    {
        const std::uint64_t start = report.at_ms >= report.time_in_from_ms ? report.at_ms - report.time_in_from_ms : 0;
        bands.push_back(Band{report.from, start, report.at_ms, report.at_wall_ms - report.time_in_from_ms});
    }
    if (reports.empty())
    {
        bands.push_back(Band{now.state, now.now_ms, now.now_ms + 1, now.now_wall_ms});
    }
    else
    {
        const auto& last = reports.back();
        bands.push_back(Band{last.to, last.at_ms, std::max(now.now_ms, last.at_ms + 1), last.at_wall_ms});
    }
    return bands;
}

void draw_overview(std::ostringstream& svg,
                   const std::vector<status::Transition_report>& reports,
                   const std::vector<Band>& bands)
{
    const Time_scale scale(bands.front().from_ms, bands.back().to_ms);
    svg << R"(<text x="10" y=")" << number(s_band_top + s_band_height / 2 + 4) << "\" class=\"label\">states</text>\n";
    svg << "<g class=\"states\">\n";
    for (const auto& band : bands)
    {
        const double x = scale.x(band.from_ms);
        const double width = scale.width(band.from_ms, band.to_ms);
        const char* word = status::status_word(band.state);
        svg << R"(<rect class="band" data-state=")" << word << "\" x=\"" << number(x) << "\" y=\"" << s_band_top
            << "\" width=\"" << number(width) << "\" height=\"" << s_band_height << "\" fill=\""
            << s_state_colours[band.state % 8] << R"(" stroke="#ffffff"><title>)" << word << " from "
            << clock_text(band.from_wall_ms) << " for " << duration_text(band.to_ms - band.from_ms)
            << "</title></rect>\n";
        if (width > 70)
        {
            svg << "<text x=\"" << number(x + 4) << "\" y=\"" << number(s_band_top + s_band_height / 2 + 4)
                << R"(" class="band-label">)" << word << "</text>\n";
        }
    }
    svg << "</g>\n<text x=\"10\" y=\"" << number(s_marks_top + 14) << "\" class=\"label\">keys, network</text>\n";
    svg << "<g class=\"marks\">\n";
    for (const auto& report : reports)
    {
        if (report.cause_kind != status::Cause_kind::key && report.cause_kind != status::Cause_kind::network)
        {
            continue;
        }
        const double x = scale.x(report.at_ms);
        const std::string label = report.cause_kind == status::Cause_kind::key ? report.cause.substr(4) : "NM";
        svg << R"(<line class="mark" data-cause=")" << escaped(report.cause) << "\" x1=\"" << number(x) << "\" y1=\""
            << s_band_top << "\" x2=\"" << number(x) << "\" y2=\"" << number(s_marks_top + 6)
            << "\" stroke=\"#202020\" stroke-width=\"1.5\"/>\n";
        svg << "<text x=\"" << number(x + 2) << "\" y=\"" << number(s_marks_top + 18) << R"(" class="mark-label">)"
            << escaped(label) << "<title>" << escaped(report.cause) << " at " << clock_text(report.at_wall_ms)
            << "</title></text>\n";
    }
    svg << "</g>\n<text x=\"10\" y=\"" << number(s_steps_top + 12) << "\" class=\"label\">notification steps</text>\n";
    svg << "<g class=\"steps\">\n";
    for (const auto& report : reports)
    {
        for (const auto& step : report.steps)
        {
            const char* colour = step.status == 0 ? "#3a9e4f" : step.status == 1 ? "#e89b2c" : "#d0453b";
            svg << R"(<rect class="step" x=")" << number(scale.x(step.started_ms)) << "\" y=\"" << s_steps_top
                << "\" width=\"" << number(scale.width(step.started_ms, step.started_ms + step.total_ms))
                << R"(" height="14" fill=")" << colour << "\"><title>" << status::group_text(step.group) << " "
                << escaped(step.state) << ": " << duration_text(step.total_ms) << ", " << step.clients
                << " client(s)</title></rect>\n";
        }
    }
    svg << "</g>\n";
}

/// The newest report with a notification round, one lane per client; returns the height used.
double draw_round(std::ostringstream& svg, const status::Transition_report& report, double top)
{
    std::uint64_t first = report.steps.front().started_ms;
    std::uint64_t last = first + 1;
    for (const auto& step : report.steps)
    {
        first = std::min(first, step.started_ms);
        last = std::max(last, step.started_ms + step.total_ms);
    }
    for (const auto& row : report.clients)
    {
        const std::uint64_t start = report.steps[row.step].started_ms;
        last = std::max(last, start + (row.late ? row.late_ms : row.latency_ms));
    }
    const Time_scale scale(first, last);
    svg << R"(<g class="round" data-serial=")" << report.serial << "\">\n";
    svg << R"(<text x="10" y=")" << number(top) << R"(" class="heading">Newest notification round: )"
        << status::status_word(report.from) << " &gt; " << status::status_word(report.to) << " ("
        << escaped(report.cause) << "), " << duration_text(last - first) << " from "
        << clock_text(report.at_wall_ms - (report.at_ms - std::min(report.at_ms, first))) << "</text>\n";
    double y = top + 14;
    for (std::size_t index = 0; index < report.steps.size(); ++index)
    {
        const auto& step = report.steps[index];
        svg << "<line x1=\"" << number(scale.x(step.started_ms)) << "\" y1=\"" << number(top + 6) << "\" x2=\""
            << number(scale.x(step.started_ms)) << "\" y2=\""
            << number(top + 14 + s_lane * static_cast<double>(report.clients.size() + 1))
            << "\" stroke=\"#999999\" stroke-dasharray=\"4 3\"/>\n";
        svg << "<text x=\"" << number(scale.x(step.started_ms) + 3) << "\" y=\"" << number(top + 10)
            << R"(" class="small">)" << status::group_text(step.group) << " " << escaped(step.state) << "</text>\n";
    }
    for (const auto& row : report.clients)
    {
        const std::uint64_t start = report.steps[row.step].started_ms;
        const std::uint64_t end = start + row.latency_ms;
        svg << R"(<text x="10" y=")" << number(y + 13) << R"(" class="client-label">)" << escaped(row.name) << " ("
            << status::group_text(row.group) << ")</text>\n";
        svg << R"(<rect class="client" data-answer=")" << answer_class(row) << "\" x=\"" << number(scale.x(start))
            << "\" y=\"" << number(y + 2) << "\" width=\"" << number(scale.width(start, end)) << "\" height=\""
            << s_lane - 4 << "\" fill=\"" << answer_colour(row) << "\"><title>" << escaped(row.name) << ": "
            << escaped(status::answer_text(row)) << " after " << row.latency_ms << " ms</title></rect>\n";
        if (row.late && row.late_ms > row.latency_ms)
        {
            svg << R"(<rect class="late" x=")" << number(scale.x(end)) << "\" y=\"" << number(y + 6) << "\" width=\""
                << number(scale.width(end, start + row.late_ms)) << "\" height=\"" << s_lane - 12
                << R"(" fill="#f3c77e"><title>answered )" << escaped(row.answered_state) << " late, after "
                << row.late_ms << " ms</title></rect>\n";
        }
        const std::uint64_t label_at = row.late ? std::max(row.late_ms, row.latency_ms) : row.latency_ms;
        svg << "<text x=\"" << number(std::min(scale.x(start + label_at) + 4, s_width - 150)) << "\" y=\""
            << number(y + 13) << R"(" class="small">)" << escaped(status::answer_text(row)) << " " << row.latency_ms
            << " ms" << (row.late ? ", late " + std::to_string(row.late_ms) + " ms" : std::string()) << "</text>\n";
        y += s_lane;
    }
    svg << "</g>\n";
    return y - top + s_lane;
}

void draw_legend(std::ostringstream& svg, double top)
{
    struct Entry
    {
        const char* colour;
        const char* text;
    };
    static const Entry s_entries[] = {{"#3a9e4f", "answered in time"},
                                      {"#d0453b", "error"},
                                      {"#e89b2c", "timeout"},
                                      {"#f3c77e", "late answer"},
                                      {"#8a8a8a", "dropped"}};
    svg << "<g class=\"legend\">\n";
    double x = 10;
    for (const auto& entry : s_entries)
    {
        svg << "<rect x=\"" << number(x) << "\" y=\"" << number(top) << R"(" width="12" height="12" fill=")"
            << entry.colour << "\"/><text x=\"" << number(x + 16) << "\" y=\"" << number(top + 10)
            << R"(" class="small">)" << entry.text << "</text>\n";
        x += 140;
    }
    svg << "</g>\n";
}

} // namespace

std::string timeline_svg(const std::vector<status::Transition_report>& reports, const Timeline_now& now)
{
    const std::vector<Band> bands = bands_of(reports, now);
    const status::Transition_report* round = nullptr;
    for (auto report = reports.rbegin(); report != reports.rend() && round == nullptr; ++report)
    {
        if (!report->steps.empty())
        {
            round = &*report;
        }
    }
    const double round_top = s_steps_top + 50;
    const double round_height = round != nullptr ? s_lane * static_cast<double>(round->clients.size() + 3) : 0;
    const double height = round_top + round_height + 40;

    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << R"(<svg xmlns="http://www.w3.org/2000/svg" width=")" << s_width << "\" height=\"" << number(height)
        << "\" viewBox=\"0 0 " << s_width << " " << number(height) << "\" font-family=\"sans-serif\">\n"
        << "<title>Statewarden timeline</title>\n"
        << "<style>.label{font-size:12px;fill:#404040}.band-label{font-size:12px;fill:#102030}"
           ".mark-label{font-size:11px;font-weight:bold}.heading{font-size:14px;font-weight:bold}"
           ".small{font-size:11px;fill:#303030}.client-label{font-size:11px}</style>\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"
        << R"(<text x="10" y="24" class="heading">Statewarden timeline: )" << bands.size() << " state(s) from "
        << clock_text(bands.front().from_wall_ms) << " to " << clock_text(now.now_wall_ms) << "</text>\n"
        << "<text x=\"10\" y=\"42\" class=\"small\">Hover over a band, mark or bar for its times. Keys R N S P "
           "POWER and network changes (NM) that caused a change are marked.</text>\n";
    draw_overview(svg, reports, bands);
    if (round != nullptr)
    {
        draw_round(svg, *round, round_top);
    }
    else
    {
        svg << R"(<text x="10" y=")" << number(round_top) << "\" class=\"small\">No notification round yet.</text>\n";
    }
    draw_legend(svg, height - 24);
    svg << "</svg>\n";
    return svg.str();
}

} // namespace tarn1::statewarden_ctl
