#pragma once

#include "core/constants.h"

namespace rtu {

// What the layers below the application root may do with the page state:
// the changes manager tells it when a run starts and ends, without
// depending on the root that owns it, which shows the matching pages.
class PageNavigator
{
public:
    virtual void setCurrentPage(int page) = 0;

    // The progress page while a run lasts, its summary once it is over.
    void runStarted() { setCurrentPage(Constants::ProgressPage); }
    void runFinished() { setCurrentPage(Constants::SummaryPage); }

protected:
    ~PageNavigator() = default;
};

} // namespace rtu
