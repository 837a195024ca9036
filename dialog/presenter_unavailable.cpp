// The platform presenter where there is no Windows dialog (the portable build).

#include "common/automation_error.h"
#include "dialog/presenter.h"

namespace tavrin::dialog {

namespace {
class UnavailablePresenter final : public FormPresenter {
public:
    void ShowModal(frmmain&) override {
        throw errors::ComponentFailure(u"The configuration dialog needs Windows");
    }
};
}  // namespace

FormPresenter& PlatformPresenter() {
    static UnavailablePresenter presenter;
    return presenter;
}

}  // namespace tavrin::dialog
