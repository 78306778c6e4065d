#include "platform/host/documents/StoryEdit.h"

#include <algorithm>
#include <vector>

namespace xthost::doc {

namespace {

// One format per character and back; edits are O(length), like the host's own.
std::vector<int32_t> Expand(const Story& story)
{
    std::vector<int32_t> formats;
    formats.reserve(story.text.size());
    for (const Run& run : story.charRuns)
        formats.insert(formats.end(), static_cast<size_t>(run.length), run.format);
    return formats;
}

std::vector<Run> Compress(const std::vector<int32_t>& formats)
{
    std::vector<Run> runs;
    for (int32_t f : formats) {
        if (!runs.empty() && runs.back().format == f)
            ++runs.back().length;
        else
            runs.push_back(Run{f, 1});
    }
    return runs;
}

int32_t ParagraphAt(const Story& story, int32_t pos)
{
    return static_cast<int32_t>(std::count(story.text.begin(), story.text.begin() + pos, u'\r'));
}

int32_t DefaultFormat(Project& project)
{
    for (const StyleSheet& sheet : project.styleSheets)
        if (sheet.name == "Normal")
            return sheet.charFormat;
    return project.charFormats.Size() ? 1 : project.charFormats.Intern(CharFormat{});
}

}  // namespace

int32_t InsertText(Project& project, Story& story, int32_t pos, const std::u16string& text)
{
    const auto length = static_cast<int32_t>(story.text.size());
    if (pos < 0 || pos > length || text.size() > static_cast<size_t>(INT32_MAX - length))
        return HostErr::BadRef;
    for (const ObjectRun& o : story.objects)
        if (pos > o.at && pos < o.at + o.len)
            return HostErr::SplitsRun;
    if (text.empty())
        return HostErr::Ok;
    std::vector<int32_t> formats = Expand(story);
    const int32_t format = length == 0 ? DefaultFormat(project) : formats[pos > 0 ? pos - 1 : 0];
    formats.insert(formats.begin() + pos, text.size(), format);
    story.charRuns = Compress(formats);

    const int32_t para = ParagraphAt(story, pos);
    const auto breaks = std::count(text.begin(), text.end(), u'\r');
    story.paras.insert(story.paras.begin() + para + 1, static_cast<size_t>(breaks), story.paras[para]);
    story.text.insert(static_cast<size_t>(pos), text);
    const auto n = static_cast<int32_t>(text.size());
    for (ObjectRun& o : story.objects)
        if (o.at >= pos)
            o.at += n;
    return HostErr::Ok;
}

int32_t DeleteText(Story& story, int32_t start, int32_t end)
{
    const auto length = static_cast<int32_t>(story.text.size());
    if (start < 0 || end < start || end > length)
        return HostErr::BadRef;
    for (const ObjectRun& o : story.objects) {
        const bool meets = o.at < end && o.at + o.len > start;
        const bool whole = o.at >= start && o.at + o.len <= end;
        if (meets && (!whole || o.kind == 1))
            return HostErr::SplitsRun;
    }
    if (start == end)
        return HostErr::Ok;
    std::vector<int32_t> formats = Expand(story);
    formats.erase(formats.begin() + start, formats.begin() + end);
    story.charRuns = Compress(formats);

    // Each deleted paragraph end joins the next paragraph to the one it ended.
    const int32_t first = ParagraphAt(story, start);
    const auto breaks = std::count(story.text.begin() + start, story.text.begin() + end, u'\r');
    story.paras.erase(story.paras.begin() + first + 1, story.paras.begin() + first + 1 + breaks);
    story.text.erase(static_cast<size_t>(start), static_cast<size_t>(end - start));
    const int32_t n = end - start;
    story.objects.erase(std::remove_if(story.objects.begin(), story.objects.end(),
                                       [&](const ObjectRun& o) { return o.at >= start && o.at < end; }),
                        story.objects.end());
    for (ObjectRun& o : story.objects)
        if (o.at >= end)
            o.at -= n;
    return HostErr::Ok;
}

}  // namespace xthost::doc
