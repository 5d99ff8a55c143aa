// SPDX-License-Identifier: GPL-3.0-or-later
// The window as a screen reader reads it: over AT-SPI, from another process.
#include "GuiTest.h"
#include "RunProgram.h"

#include "app/Globals.h"
#include "app/HelpDlg.h"
#include "app/Ids.h"
#include "app/RenamerDlg.h"
#include "queue/QueueList.h"

#include <wx/listctrl.h>
#include <wx/uiaction.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <signal.h>
#include <sstream>

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

// The reader, in a process of its own, while this one goes on answering it.
class Reader
{
public:
    explicit Reader(const std::vector<std::string>& args) : m_out(m_dir.Path() + "/out")
    {
#ifdef ATSPI_DUMP
        const std::string self = std::to_string(getpid());
        m_pid = fork();
        if (m_pid == 0)
        {
            const int fd = open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || dup2(fd, 1) < 0)
                _exit(126);
            std::vector<char*> argv{const_cast<char*>(ATSPI_DUMP)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg == "PID" ? self.c_str() : arg.c_str()));
            argv.push_back(nullptr);
            execv(ATSPI_DUMP, argv.data());
            _exit(127);
        }
#else
        (void)args;
#endif
    }
    ~Reader() { Stop(); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Keeps the window answering until the reader has ended (true when it
    // ended well) or ms have passed.
    bool Wait(int ms)
    {
        for (int waited = 0; m_pid > 0 && waited < ms; waited += 10)
        {
            Flush();
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid)
            {
                m_pid = 0;
                return WIFEXITED(status) && WEXITSTATUS(status) == 0;
            }
            wxMilliSleep(10);
        }
        return false;
    }
    // Keeps the window answering until the reader has written text.
    bool WaitFor(const std::string& text, int ms)
    {
        for (int waited = 0; waited < ms; waited += 10)
        {
            Flush();
            if (Output().find(text) != std::string::npos)
                return true;
            wxMilliSleep(10);
        }
        return false;
    }
    void Stop()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = 0;
    }
    std::string Output() const
    {
        std::ifstream in(m_out);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    TempDir m_dir;
    std::string m_out;
    pid_t m_pid = 0;
};
} // namespace

class AccessibilityTest : public MainWindowTestBase
{
};

TEST_F(AccessibilityTest, DISABLED_ChildIsReadThroughAtSpi)
{
    TempDir dir;
    g_queue.AddEntry("track01.mp3", dir.Write("track01.mp3", Mp3Bytes("Yesterday", "Beatles")), ADD_MP3);
    g_queue.AddEntry("track02.mp3", dir.Write("track02.mp3", Mp3Bytes("Help!", "Beatles")), ADD_MP3);
    CQueueListCtrl* queue = g_queue.GetCtrl();
    // Clicked, a row becomes the current one, under the focus.
    const auto click = [queue](long row) {
        wxRect rect;
        ASSERT_TRUE(queue->GetItemRect(row, rect));
        LeftClick(queue, rect.GetPosition() + wxPoint(20, rect.height / 2));
    };
    click(0);

    // What a screen reader hears while the user moves down and renames.
    Reader events({"--events"});
    ASSERT_TRUE(events.WaitFor("ready\n", 10000)) << "the reader could not listen";
    // The bridge learns of the reader's listeners by a message of the bus.
    events.Wait(1000);
    wxUIActionSimulator keys;
    keys.Char(WXK_DOWN);
    EXPECT_TRUE(events.WaitFor("object:active-descendant-changed\tRename queue\t4\ttrack02.mp3\n", 5000))
        << events.Output();
    EXPECT_TRUE(events.WaitFor("object:selection-changed\tRename queue\t", 5000)) << events.Output();
    Press(dlg, IDC_AUTORENAME);
    ASSERT_EQ(g_queue.Row(1).state, "Successful");
    EXPECT_TRUE(events.WaitFor("object:property-change:accessible-name\t" + g_queue.Row(1).name + "\t", 5000))
        << events.Output();
    events.Stop();

    // The help window and the tag editor stay open beside the window, and
    // are read too.
    Press(dlg, IDC_HELPBUTTON);
    g_helpDlg.GetWindow()->Move(dlg->GetRect().GetRight() + 10, 0);
    Press(dlg, IDC_ID3V1);
    click(1);
    Reader reader({"PID", "10"});
    ASSERT_TRUE(reader.Wait(30000)) << "the reader found no window on the bus";
    const std::string dump = reader.Output();
    // The queue's row, cell by cell, selected and under the focus.
    EXPECT_NE(dump.find("table \"Rename queue\""), std::string::npos) << dump;
    EXPECT_NE(dump.find("headings\tName\tState\tOriginal Name\tPath\n"), std::string::npos) << dump;
    const std::string name = g_queue.Row(1).name;
    const std::string row = "row 1\t" + name + "\tSuccessful\ttrack02.mp3\t" + dir.Path() + "/" +
                            name + "\t(table cell [focusable focused selectable selected";
    EXPECT_NE(dump.find(row), std::string::npos) << dump;
    EXPECT_NE(dump.find("table \"Directory list\""), std::string::npos) << dump;
    // The location box says where the directory list is.
    EXPECT_NE(dump.find("combo box \"Location\" [focusable showing] description \"My Computer\"\n"),
              std::string::npos) << dump;
    EXPECT_NE(dump.find("row 0\tParent Directory"), std::string::npos) << dump;
    EXPECT_NE(dump.find("text \"Title\" [focusable"), std::string::npos) << dump;
    EXPECT_NE(dump.find("link \"help@"), std::string::npos) << dump;
    // Every control that takes the focus, in every window, has a name to be
    // spoken.
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
