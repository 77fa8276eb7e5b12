#include "app/conversion.h"

#include "app/longwork.h"
#include "core/messages.h"
#include "core/source_info.h"
#include "media/convert.h"
#include "media/module.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

bool NeedsConversion(const voicelib::SourceInfo& info)
{
    if (info.state == voicelib::SourceInfo::State::Rejected)
        return true;
    return info.IsAccepted() &&
           (info.sampleRate != voicelib::DEVICE_SAMPLE_RATE || info.channels != voicelib::DEVICE_CHANNELS);
}

namespace {

std::string_view FileNameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
}

// One spelling per file, so that "a/../b.wav" and a symlinked folder name the file they reach.
std::string SameFileKey(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
    return ec ? std::filesystem::absolute(path, ec).lexically_normal().string() : p.string();
}

} // namespace

std::vector<std::string> ConversionTargets(const std::string& dir, const std::vector<std::string>& inputs,
                                           const std::vector<std::string>& listFiles)
{
    // The list's files by file name: a name is compared with the few rows that share it.
    std::unordered_multimap<std::string_view, const std::string*> rowsByName;
    for (const std::string& f : listFiles)
        rowsByName.emplace(FileNameOf(f), &f);
    std::unordered_set<std::string> taken; // inputs and targets of this run
    for (const std::string& in : inputs)
        taken.insert(SameFileKey(in));
    const auto isTaken = [&](const std::string& path, const std::string& key) {
        if (taken.count(key))
            return true;
        const auto [first, last] = rowsByName.equal_range(FileNameOf(path));
        return std::any_of(first, last, [&](const auto& row) { return SameFileKey(*row.second) == key; });
    };

    std::vector<std::string> targets;
    targets.reserve(inputs.size());
    for (const std::string& in : inputs) {
        std::string target = voicelib::ConvertedName(dir, in);
        std::string key = SameFileKey(target);
        if (isTaken(target, key)) {
            const std::filesystem::path first(target);
            const std::string stem = first.stem().string();
            for (int n = 2;; ++n) {
                target = (first.parent_path() / (stem + '-' + std::to_string(n) + ".wav")).string();
                key = SameFileKey(target);
                std::error_code ec;
                if (!isTaken(target, key) &&
                    !std::filesystem::exists(std::filesystem::symlink_status(target, ec)))
                    break;
            }
        }
        taken.insert(key);
        targets.push_back(std::move(target));
    }
    return targets;
}

ConversionRun RunConversion(QWidget* parent, const voicelib::ConversionModule& module,
                            const std::vector<voicelib::ConvertJob>& jobs,
                            const voicelib::ConvertOptions& options)
{
    constexpr int STEPS = 1000;
    ConversionRun run;
    LongWork work(parent, QString::fromUtf8(voicelib::MessageText(voicelib::Msg::Converting)), STEPS);
    work.Run([&](const LongWork::Progress& progress) {
        run.results = module.convertFiles(
            jobs, options,
            [&](double fraction, std::size_t, std::size_t) { return progress(static_cast<int>(fraction * STEPS)); },
            0);
        return LongWork::Outcome::Completed;
    });
    // A cancel that came after the last file changes nothing.
    run.cancelled = std::any_of(run.results.begin(), run.results.end(),
                                [](const voicelib::ConvertResult& r) { return r.cancelled; });
    return run;
}
