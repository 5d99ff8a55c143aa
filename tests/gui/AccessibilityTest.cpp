// SPDX-License-Identifier: GPL-3.0-or-later
// The window as a screen reader reads it: over AT-SPI, from another process.
#include "GuiTest.h"
#include "RunProgram.h"

#include "app/Ids.h"
#include "app/RenamerDlg.h"
#include "queue/QueueList.h"

#include <wx/listctrl.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <signal.h>
#include <sstream>

extern CQueueList g_queue;

namespace
{
// A session bus of the test's own, so the toolkit's accessibility bridge
// and the reader meet on it and on no desktop's.
class PrivateBus
{
public:
    PrivateBus()
    {
        FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
        if (out == nullptr)
            return;
        char line[1024];
        if (fgets(line, sizeof line, out))
            m_address = std::string(line, strcspn(line, "\n"));
        if (fgets(line, sizeof line, out))
            m_pid = std::atoi(line);
        pclose(out);
    }
    ~PrivateBus()
    {
        if (m_pid > 0)
            kill(m_pid, SIGTERM);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool Started() const { return m_pid > 0 && !m_address.empty(); }
    const std::string& Address() const { return m_address; }

private:
    std::string m_address;
    int m_pid = 0;
};

// Runs the reader on this process while the window goes on answering it;
// its output, or "" when it failed.
std::string ReadOverAtSpi(const TempDir& dir)
{
#ifdef ATSPI_DUMP
    const std::string out = dir.Path() + "/dump";
    const pid_t reader = fork();
    if (reader == 0)
    {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, 1) < 0)
            _exit(126);
        const std::string pid = std::to_string(getppid());
        execl(ATSPI_DUMP, ATSPI_DUMP, pid.c_str(), "10", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = -1;
    for (int waited = 0; waited < 3000; ++waited)
    {
        Flush();
        if (waitpid(reader, &status, WNOHANG) == reader)
            break;
        wxMilliSleep(10);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    {
        kill(reader, SIGKILL);
        waitpid(reader, &status, 0);
        return "";
    }
    std::ifstream in(out);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
#else
    (void)dir;
    return "";
#endif
}
} // namespace

class AccessibilityTest : public MainWindowTestBase
{
};

TEST_F(AccessibilityTest, DISABLED_ChildIsReadThroughAtSpi)
{
    TempDir dir;
    const std::string track = dir.Write("track01.mp3", Mp3Bytes("Yesterday", "Beatles"));
    g_queue.AddEntry("track01.mp3", track, ADD_MP3);
    g_queue.SelectAll();
    Press(dlg, IDC_AUTORENAME);
    ASSERT_EQ(g_queue.Row(0).state, "Successful");
    // Clicked, the row becomes the current one, under the focus.
    wxRect rect;
    ASSERT_TRUE(g_queue.GetCtrl()->GetItemRect(0, rect));
    LeftClick(g_queue.GetCtrl(), rect.GetPosition() + wxPoint(20, rect.height / 2));

    const std::string dump = ReadOverAtSpi(dir);
    ASSERT_FALSE(dump.empty()) << "the reader found no window on the bus";
    // The queue's row, cell by cell, selected and under the focus.
    EXPECT_NE(dump.find("table \"Rename queue\""), std::string::npos) << dump;
    EXPECT_NE(dump.find("headings\tName\tState\tOriginal Name\tPath\n"), std::string::npos) << dump;
    const std::string name = g_queue.Row(0).name;
    const std::string row = "row 0\t" + name + "\tSuccessful\ttrack01.mp3\t" + dir.Path() + "/" +
                            name + "\t(table cell [focusable focused selectable selected";
    EXPECT_NE(dump.find(row), std::string::npos) << dump;
    EXPECT_NE(dump.find("table \"Directory list\""), std::string::npos) << dump;
    EXPECT_NE(dump.find("row 0\tParent Directory"), std::string::npos) << dump;
    // Every control that takes the focus has a name to be spoken.
    std::istringstream lines(dump);
    const std::regex unnamed(R"(^\s*[a-z ]+ "" \[[^\]]*focusable)");
    for (std::string line; std::getline(lines, line);)
        EXPECT_FALSE(std::regex_search(line, unnamed)) << line;
}

TEST(AccessibilityBusTest, AScreenReaderReadsTheQueuedFileAndItsState)
{
#ifndef ATSPI_DUMP
    GTEST_SKIP() << "built without libatspi: no reader";
#endif
    PrivateBus bus;
    if (!bus.Started())
        GTEST_SKIP() << "no private session bus: dbus-daemon could not be started";
    const ProgramResult child = RunChild("AccessibilityTest.DISABLED_ChildIsReadThroughAtSpi",
                                         {{"DBUS_SESSION_BUS_ADDRESS", bus.Address()},
                                          {"LANGUAGE", "en"}});
    EXPECT_EQ(child.status, 0) << child.out << child.err;
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
}
