#pragma once
// What the dialog's Test and Fetch key buttons run. The plug-in object that shows the dialog
// hands it an implementation over its own check run and SSH component: the dialog itself
// reaches neither.

#include "ssh/remote_run.h"

#include <atomic>
#include <chrono>
#include <string>

namespace tavrin::dialog {

// A check as the dialog would store it at this moment.
struct TestRequest {
    std::u16string hostName;
    std::u16string timeout;
    std::u16string parameter;  // the string that OK would write
    TestRequest() = default;
    TestRequest(const TestRequest&) = default;
    TestRequest& operator=(const TestRequest&) = default;
    ~TestRequest();  // the parameter (it holds the password) is overwritten
};

// What a test run showed.
struct TestReport {
    bool up = false;
    std::u16string result;  // the result text, as the check stores it
    std::chrono::milliseconds took{0};
    ssh::RunReport run;
    std::u16string output;  // the command's output, cut after 64 KiB
    bool outputCut = false;
};

class CheckServices {
public:
    virtual ~CheckServices() = default;
    // Runs the check on the calling thread (a worker of the dialog) exactly as the host's
    // checks run, and returns soon after `cancel` is raised. Never throws.
    virtual TestReport RunTest(const TestRequest& request, const std::atomic<bool>& cancel) = 0;
    // The server's host key, fetched without logging in, and what the known_hosts files say of
    // it; on the calling thread, returning soon after `cancel` is raised. Never throws.
    virtual ssh::HostKeyProbe FetchKey(const std::u16string& host, int port, std::chrono::seconds timeout,
                                       const std::atomic<bool>& cancel) = 0;
};

// The text the result box shows for a test: "UP: " or "DOWN: " and the result's first line,
// then how long it took, the host key and how it was trusted, the algorithms, whether a kept
// login served it, and the output.
std::u16string TestReportText(const TestReport& report);

// The text for a fetched key: its type and fingerprint and what the known_hosts files say, or
// why it could not be fetched.
std::u16string FetchedKeyText(const ssh::HostKeyProbe& probe);

}  // namespace tavrin::dialog
