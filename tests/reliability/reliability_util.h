// Shared pieces of the reliability tests: scratch directories, and a
// headless host that runs kevra-host commands one at a time and checks,
// after each, what must hold whatever the control met: it is enabled, the
// pointer is the default, no exception reached the host.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "../scratch_dir.h"
#include "control/ctlKevraTaskList.h"
#include "headless/headless_site.h"
#include "headless/host.h"
#include "headless/script.h"
#include "platform/settings_store.h"

namespace kevra::reliability {

using ScratchDir = kevra::testing::ScratchDir;

// One control in the headless container, driven command by command.
class Harness {
  public:
    explicit Harness(SettingsStore& settings)
        : host_(
              [this](const std::string& line) {
                  lines_.push_back(Line{step_, line});
              },
              settings) {}

    struct Line {
        int step;  // index of the command that printed it
        std::string text;
    };

    // Runs one script line. A line that does not parse, an exception that
    // leaves the host, or a control left disabled or busy is a test failure.
    void Run(const std::string& script_line) {
        std::vector<host::Command> commands;
        host::ParseError error;
        ASSERT_TRUE(host::ParseScript(script_line, commands, error))
            << script_line << ": " << error.message;
        ++step_;
        for (const auto& c : commands) {
            try {
                host_.Run(c);
            } catch (const std::exception& e) {
                ADD_FAILURE() << script_line << ": an exception reached the host: " << e.what();
            } catch (...) {
                ADD_FAILURE() << script_line << ": an exception reached the host";
            }
        }
        EXPECT_TRUE(host_.Site().Enabled()) << script_line << ": the control was left disabled";
        EXPECT_EQ(host_.Site().MousePointer(), 0) << script_line << ": the busy pointer stayed";
    }
    void RunAll(const std::vector<std::string>& script_lines) {
        for (const auto& l : script_lines) Run(l);
    }

    // The lines that start with `prefix`, optionally only those of one step.
    std::vector<std::string> Lines(std::string_view prefix, int step = -1) const {
        std::vector<std::string> out;
        for (const auto& l : lines_)
            if ((step < 0 || l.step == step) && l.text.starts_with(prefix)) out.push_back(l.text);
        return out;
    }
    const std::vector<Line>& All() const { return lines_; }
    int Step() const { return step_; }
    std::string Dump() const { return host_.DumpJson(); }
    host::HeadlessHost& Host() { return host_; }
    ctlKevraTaskList& Control() { return host_.Control(); }

  private:
    std::vector<Line> lines_;
    int step_ = -1;
    host::HeadlessHost host_;
};

}  // namespace kevra::reliability
