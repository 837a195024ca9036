#pragma once
// Test doubles for the dialog cycle: an object whose properties are plain texts, and a presenter
// that plays a scripted user instead of showing a window.

#include "dialog/frmmain.h"
#include "expected_title.h"
#include "dialog/presenter.h"
#include "plugin/object_access.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tavrin::dialog::testing {

// The form's SSH side is never used by these tests.
class NoSshFactory final : public ssh::ComponentFactory {
public:
    std::unique_ptr<ssh::SshObject> CreateSsh() override { throw std::logic_error("no SSH in dialog tests"); }
    std::unique_ptr<ssh::KeyObject> CreateKeys() override { throw std::logic_error("no SSH in dialog tests"); }
    ssh::HostKeyProbe ProbeHostKey(const std::u16string&, int, std::chrono::seconds,
                                   const std::atomic<bool>&) override {
        throw std::logic_error("no SSH in dialog tests");
    }
};

// What the user sees of one control while the form is shown.
struct ShownControl {
    std::u16string text;
    int listIndex = -1;
    std::vector<std::u16string> items;
    friend bool operator==(const ShownControl&, const ShownControl&) = default;
};

struct ShownForm {
    std::u16string caption;
    std::map<std::u16string, ShownControl> controls;  // by control name
    friend bool operator==(const ShownForm&, const ShownForm&) = default;
};

inline ShownForm Snapshot(frmmain& form) {
    ShownForm shown;
    shown.caption = form.Caption();
    for (const ControlLayout& layout : kFormLayout) {
        Control& control = form.ControlAt(layout.tabIndex);
        ShownControl& c = shown.controls[std::u16string(layout.name)];
        c.text = control.Text();
        if (control.Kind() == ControlKind::ComboBox || control.Kind() == ControlKind::DropDownList) {
            c.listIndex = control.ListIndex();
            for (int i = 0; i < control.ListCount(); ++i) c.items.push_back(control.List(i));
        }
    }
    return shown;
}

// Plays the user's part: runs its steps in order while the form is loaded. A showing must end
// with the form unloaded; a script that leaves it open is a test failure (and is closed).
class ScriptedPresenter final : public FormPresenter {
public:
    using Step = std::function<void(frmmain&)>;

    void Script(std::vector<Step> steps) { steps_ = std::move(steps); }

    void ShowModal(frmmain& form) override {
        ++showings;
        EXPECT_TRUE(form.IsLoaded()) << "a form is shown only when loaded";
        EXPECT_TRUE(form.IsShown());
        shown.push_back(Snapshot(form));
        for (const Step& step : steps_) {
            step(form);
            if (!form.IsLoaded()) return;
        }
        ADD_FAILURE() << "the script ended with the form still open";
        form.CloseBox();
    }

    int showings = 0;
    std::vector<ShownForm> shown;                   // the form as each showing first showed it
    std::vector<frmmain::OkOutcome> okOutcomes;     // of every PressOk

    // Steps.
    static Step Type(int tabIndex, std::u16string text) {
        return [=](frmmain& f) { f.ControlAt(tabIndex).SetText(text); };
    }
    static Step Pick(int tabIndex, int listIndex) {
        return [=](frmmain& f) { f.ControlAt(tabIndex).SetListIndex(listIndex); };
    }
    Step PressOk() {
        return [this](frmmain& f) { okOutcomes.push_back(f.btOK_Click()); };
    }
    // OK as the window presses it: a question about the Credential Manager is kept in
    // `questions` and answered `yes` (a second OK) or no (nothing more).
    Step PressOkAnswering(bool yes) {
        return [this, yes](frmmain& f) {
            okOutcomes.push_back(f.btOK_Click());
            if (okOutcomes.back() != frmmain::OkOutcome::CredentialQuestion) return;
            questions.push_back(f.OkMessage());
            if (yes) okOutcomes.push_back(f.btOK_Click(true));
        };
    }
    static Step Close() {
        return [](frmmain& f) { f.CloseBox(); };
    }
    // The Bastion window's OK with these values typed (JMP, JPW in clear, JKF, JFP); what it
    // refused is kept in `problems`. Its Cancel is no step: it calls nothing on the form.
    Step PressBastionOk(std::u16string jump, std::u16string password, std::u16string keyFile,
                        std::u16string hostKeys) {
        return [=, this](frmmain& f) {
            DialogFields typed;
            typed.jump = jump;
            typed.jumpPassword = password;
            typed.jumpKeyFile = keyFile;
            typed.jumpHostKeys = hostKeys;
            if (std::optional<FieldProblem> problem = f.BastionOk(typed)) problems.push_back(std::move(*problem));
        };
    }
    // Test and Fetch key as the window runs them, here on the calling thread and never
    // cancelled; what they gave is kept in `tests` and `fetches`.
    Step PressTest() {
        return [this](frmmain& f) {
            std::variant<TestRequest, FieldProblem, frmmain::StoreProblem> prepared = f.TestRequestNow();
            if (const auto* problem = std::get_if<FieldProblem>(&prepared)) {
                problems.push_back(*problem);
                return;
            }
            if (const auto* refused = std::get_if<frmmain::StoreProblem>(&prepared)) {
                storeProblems.push_back(*refused);
                return;
            }
            ASSERT_NE(f.Services(), nullptr);
            const std::atomic<bool> never{false};
            tests.push_back(f.Services()->RunTest(std::get<TestRequest>(prepared), never));
            f.ShowTestReport(tests.back());
        };
    }
    Step PressFetchKey(bool pin) {
        return [this, pin](frmmain& f) {
            std::variant<frmmain::FetchRequest, FieldProblem> prepared = f.FetchRequestNow();
            if (const auto* problem = std::get_if<FieldProblem>(&prepared)) {
                problems.push_back(*problem);
                return;
            }
            ASSERT_NE(f.Services(), nullptr);
            const auto& request = std::get<frmmain::FetchRequest>(prepared);
            const std::atomic<bool> never{false};
            fetches.push_back(f.Services()->FetchKey(request.host, request.port, request.timeout, never));
            f.ShowFetchedKey(fetches.back());
            if (pin) f.PinHostKey(fetches.back().fingerprint);
        };
    }
    std::vector<TestReport> tests;
    std::vector<ssh::HostKeyProbe> fetches;
    std::vector<FieldProblem> problems;  // of Test, Fetch key and the Bastion window's OK
    std::vector<frmmain::StoreProblem> storeProblems;  // of Test
    std::vector<std::u16string> questions;             // of PressOkAnswering

private:
    std::vector<Step> steps_;
};

// A plug-in object with text properties, counting its parameter puts.
class TextObject final : public plugin::ObjectAccess {
public:
    // `component`: what the form's check run and the dialog's Test use (none by default).
    explicit TextObject(std::u16string parameter = u"", std::u16string hostname = u"", std::u16string timeout = u"",
                        ssh::ComponentFactory* component = nullptr)
        : parameter(std::move(parameter)), hostname(std::move(hostname)), timeout(std::move(timeout)),
          form_(component != nullptr ? *component : factory_, &presenter) {}

    std::int16_t TimeoutAsInteger16() override { return 0; }
    std::u16string TimeoutAsText() override { return timeout; }
    std::u16string HostnameAsText() override { return hostname; }
    std::u16string ParameterAsText() override { return parameter; }
    void PutResult(const std::u16string&) override { ++resultPuts; }
    void PutParameter(const std::u16string& text) override {
        parameter = text;
        ++parameterPuts;
    }
    frmmain& Form() override { return form_; }

    std::u16string parameter;
    std::u16string hostname;
    std::u16string timeout;
    int parameterPuts = 0;
    int resultPuts = 0;
    ScriptedPresenter presenter;

private:
    NoSshFactory factory_;
    frmmain form_;
};

}  // namespace tavrin::dialog::testing
