// The first page: greets the user with the product's name.
#pragma once

#include "pages/resource.h"
#include "pages/skin.h"

class CSPWelcomeDialog : public WizardPage<CSPWelcomeDialog> {
public:
    explicit CSPWelcomeDialog(const Configuration& configuration);
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
