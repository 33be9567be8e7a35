#pragma once
// What the user of a countdown alert learns when its window closes.

#include <QtGlobal>

class CountdownAlertDelegate {
  public:
    // 0: the countdown ran out; 1, 2, 3: the first, second or third button.
    virtual void countdownWindowDidCloseWithReturnCode(qint64 returnCode) = 0;

  protected:
    ~CountdownAlertDelegate() = default;
};
