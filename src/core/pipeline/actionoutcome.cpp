// SPDX-License-Identifier: MIT
#include "core/pipeline/actionoutcome.h"

#include "core/pipeline/actionstopsignal.h"

#include <exception>

ActionOutcome ActionOutcome::of(const std::function<void()> &work)
{
    try {
        if (work)
            work();
    } catch (const ActionStopSignal &stop) {
        return {stop.code, stop.message};
    } catch (const QString &text) {
        return {-1, text};
    } catch (const char *text) {
        return {-1, QString::fromUtf8(text)};
    } catch (const std::exception &error) {
        return {-1, QString::fromUtf8(error.what())};
    } catch (...) {
        return {999, QStringLiteral("fatal error")};
    }
    return {};
}
