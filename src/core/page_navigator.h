#pragma once

namespace rtu {

// What the layers below the application root may do with the page state:
// the changes manager moves the window to the progress and summary pages
// without depending on the root that owns it.
class PageNavigator
{
public:
    virtual void setCurrentPage(int page) = 0;

protected:
    ~PageNavigator() = default;
};

} // namespace rtu
