// What the site is about and how much of it there may be: fixed by the content, not
// chosen by the operator, so not among the options.
#pragma once

namespace velmora::site {

// The series every page is about.
inline constexpr const char* kSeriesName = "Tessavo";
// The notice served when none is given.
inline constexpr const char* kDefaultNotice = "《Tessavo》每周五晚八点更新，感谢收看！";
// Episodes of the built-in demo, when neither --episodes nor --media is given.
constexpr long kDemoEpisodes = 24;
// The most episodes a site may have (--episodes, or the highest file number in --media).
constexpr long kMaxEpisodes = 1000000;
// The most rows the player's episode list holds; the start page links no more than that.
constexpr long kMaxListedEpisodes = 9999;

} // namespace velmora::site
