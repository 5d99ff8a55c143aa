// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlayerTestSupport.h"

#include <wx/time.h>
#include <wx/utils.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

// No sound card needed: with the real sinks ranked out, GStreamer falls back
// to a fake sink that still keeps time. Set before the first player starts.
[[maybe_unused]] static const int kFakeAudioSink = setenv(
    "GST_PLUGIN_FEATURE_RANK",
    "pulsesink:NONE,alsasink:NONE,jackaudiosink:NONE,oss4sink:NONE,osssink:NONE,pipewiresink:NONE",
    0);

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string AudioBytes(int milliseconds)
{
    static const TempDir cache;
    static std::map<int, std::string> encoded;
    std::string& audio = encoded[milliseconds];
    // 1152 samples a frame at 44100 a second; the Xing header tells the length.
    const std::string file = cache.Path() + "/" + std::to_string(milliseconds) + ".mp3";
    const std::string cmd = "gst-launch-1.0 -q audiotestsrc num-buffers=" +
                            std::to_string(milliseconds * 44100L / 1000 / 1152 + 1) +
                            " samplesperbuffer=1152 ! audio/x-raw,rate=44100,channels=1"
                            " ! lamemp3enc ! xingmux ! filesink location=" + file +
                            " >/dev/null 2>&1";
    if (audio.empty() && std::system(cmd.c_str()) == 0)
        audio = ReadAll(file);
    return audio;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const wxLongLong end = wxGetLocalTimeMillis() + timeoutMs;
    for (; !done() && wxGetLocalTimeMillis() < end; wxMilliSleep(5))
        Flush();
    return done();
}
