// The first page: greets the user with the product's name. Its
// initialisation loads the configuration that every later page and the
// install worker read, which is why the frame creates it first.
#pragma once

#include "pages/resource.h"
#include "pages/skin.h"

class CSPWelcomeDialog : public WizardPage<CSPWelcomeDialog> {
public:
    CSPWelcomeDialog();
    static std::span<const Entry> MessageTable();

protected:
    BOOL OnInitDialog() override;
    void LayOut() override;

private:
    void OnNext();

    UniqueBitmap picture_;
    UniqueFont titleLeadFont_;
    UniqueFont titleNameFont_;
    UniqueFont titleTailFont_;
};
