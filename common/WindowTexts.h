#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace raduvuz {

// Numbers of the texts the operator sees in the windows (captions, menus, actions, controls, list
// columns) that have none among the numbered messages: one block of our own, 2100 to 2299, which
// no numbered message uses. A language table translates them like any other number; their
// English texts are in WindowTexts().
enum TWindowText : int {
    wtMainCaption = 2100,
    wtMenuModule = 2101,
    wtMenuView = 2102,
    wtMenuJobs = 2103,
    wtMenuHelp = 2104,
    wtSpotColors = 2105,
    wtRedirect = 2106,
    wtToolbar = 2107,
    wtLogHint = 2108,
    wtExit = 2110,
    wtExitHint = 2111,
    wtHide = 2112,
    wtHideHint = 2113,
    wtStart = 2114,
    wtStartHint = 2115,
    wtStop = 2116,
    wtStopHint = 2117,
    wtAbort = 2118,
    wtAbortHint = 2119,
    wtOptions = 2120,
    wtOptionsHint = 2121,
    wtDelete = 2122,
    wtDeleteHint = 2123,
    wtViewLog = 2124,
    wtViewLogHint = 2125,
    wtViewToolBar = 2126,
    wtViewToolBarHint = 2127,
    wtAbout = 2128,
    wtAboutHint = 2129,
    wtReprocess = 2130,
    wtReprocessHint = 2131,
    wtViewProcessJobs = 2132,
    wtViewCompletedJobs = 2133,
    wtViewPreview = 2134,
    wtSelectAll = 2135,
    wtSaveAs = 2136,
    wtChangeName = 2137,
    wtChangeNameHint = 2138,
    wtUnHold = 2139,
    wtUnHoldHint = 2140,
    wtPriority = 2141,
    wtHold = 2142,
    wtHoldHint = 2143,
    wtSearch = 2144,
    wtSearchHint = 2145,
    wtSearchAgain = 2146,
    wtCompos = 2147,
    wtComposHint = 2148,
    wtSendToDevice = 2149,
    wtSendToDeviceHint = 2150,
    wtAddSpotColor = 2151,
    wtJobMerge = 2152,
    wtJobMergeHint = 2153,
    wtGenPreview = 2154,
    wtGenPreviewHint = 2155,
    wtNegative = 2156,
    wtNegativeHint = 2157,
    wtHelp = 2158,
    wtColumnJobID = 2163,
    wtColumnDocID = 2164,
    wtColumnProcessingJob = 2165,
    wtColumnPassedJob = 2166,
    wtColumnPage = 2167,
    wtColumnColor = 2168,
    wtColumnDate = 2169,
    wtColumnTime = 2170,
    wtColumnType = 2171,
    wtColumnSize = 2172,
    wtColumnDestination = 2173,
    wtAddSpotColorOf = 2174,
    wtEditSpotColorOf = 2175,
    wtInvalidColorName = 2176,
    wtSpotColorExists = 2177,
    wtAboutCaption = 2180,
    wtModuleDescription = 2181,
    wtLegal = 2183,
    wtBuild = 2184,
    wtBeta = 2185,
    wtOk = 2190,
    wtCancel = 2191,
    wtPriorityCaption = 2192,
    wtPriorityLabel = 2193,
    wtPriorityRange = 2194,
    wtDevicesCaption = 2195,
    wtSearchCaption = 2200,
    wtJobStatus = 2201,
    wtJobIDLabel = 2202,
    wtDocIDLabel = 2203,
    wtNameLabel = 2204,
    wtPageLabel = 2205,
    wtColorLabel = 2206,
    wtDateLabel = 2207,
    wtTypeLabel = 2208,
    wtSizeLabel = 2209,
    wtSizeUnit = 2210,
    wtDestLabel = 2211,
    wtFind = 2212,
    wtFindNext = 2213,
    wtTextMatch = 2214,
    wtNotADate = 2216,
    wtLoading = 2220,
    wtTransferring = 2221,
    wtSpooling = 2222,
    wtJobCounts = 2223,
};

struct TWindowTextEntry {
    int Number;
    const char* Text;
};

// Every window text of the block with its English text, by number.
std::span<const TWindowTextEntry> WindowTexts();
// The English text of a number of the block; empty for a number outside it.
std::string WindowTextDefault(int number);
// The text of a number in the user's language, else its English text.
std::string WindowText(int number);
// A component's tag: its text's number and, in the high 16 bits, its hint's.
constexpr int32_t TagOf(int text, int hint = 0) {
    return text | (hint << 16);
}

} // namespace raduvuz
