// SPDX-License-Identifier: Apache-2.0
#include "core/transport/ChangeNotifier.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace matrix;

// A view that went must not be called again: its subscription ends with it,
// also after being handed on to another holder.
TEST(ChangeNotifier, ASubscriptionListensUntilItsLastHolderGoes)
{
    ChangeNotifier notifier;
    int heard = 0;
    std::optional<ChangeNotifier::Subscription> first(std::in_place, notifier, [&] { ++heard; });
    notifier.notifyChanged();
    EXPECT_EQ(heard, 1);

    ChangeNotifier::Subscription second = std::move(*first);
    first.reset();  // the moved-from holder ends nothing
    notifier.notifyChanged();
    EXPECT_EQ(heard, 2);

    second = ChangeNotifier::Subscription();  // replaced: the old one ends
    notifier.notifyChanged();
    EXPECT_EQ(heard, 2);
}
