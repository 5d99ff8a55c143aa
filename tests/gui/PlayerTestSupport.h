// Real MP3 audio for the player and editor tests, and waiting for the
// player's asynchronous back end.
#pragma once

#include "GuiTest.h"

#include <functional>
#include <string>

// Writes name under dir: MP3 audio of about the given length, encoded once
// per length with GStreamer. Returns the full path, or "" without an encoder.
std::string WriteAudio(const TempDir& dir, const std::string& name, int milliseconds);

// Runs the event loop until done() holds or the time-out passes (it only
// bounds a test that would hang); returns done()'s last value.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000);

// The whole file as bytes.
std::string ReadAll(const std::string& path);
