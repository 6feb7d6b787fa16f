// SPDX-License-Identifier: Apache-2.0
#include "sim/NetResponder.h"

#include <gtest/gtest.h>

using namespace matrix::sim;

TEST(NetResponder, AnswersOnlyWellFormedRequestsAddressedToIt)
{
    MatrixDevice device;
    NetResponder matrix(device);
    const auto reply = matrix.onDatagram(30600, {0x61});
    ASSERT_TRUE(reply);
    ASSERT_GE(reply->size(), 50u);
    EXPECT_EQ((*reply)[18], 0x77);
    EXPECT_EQ((*reply)[19], 0x88);
    EXPECT_FALSE(matrix.onDatagram(30600, {0x61, 0x61}));
    EXPECT_FALSE(matrix.onDatagram(30600, {}));

    NetResponder::Bytes message(76, 0);
    std::copy(device.mac.begin(), device.mac.end(), message.begin());
    message[6] = 10;
    message[18] = 0;
    message[25] = 0x17;
    message[74] = 0xFF;
    auto seal = [](NetResponder::Bytes m) {
        unsigned sum = 0;
        for (int i = 0; i < 75; ++i)
            sum += m[i];
        m[75] = static_cast<std::uint8_t>(sum);
        return m;
    };
    auto badSum = seal(message);
    badSum[75] ^= 1;
    EXPECT_FALSE(matrix.onDatagram(30601, badSum));
    auto otherMac = message;
    otherMac[5] ^= 1;
    EXPECT_FALSE(matrix.onDatagram(30601, seal(otherMac)));
    auto ack = seal(message);
    ack[74] = 0;  // an acknowledgement is no request
    EXPECT_FALSE(matrix.onDatagram(30601, seal(ack)));
    EXPECT_EQ(matrix.configurationsApplied(), 0);

    auto answer = matrix.onDatagram(30601, seal(message));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->size(), 76u);
    EXPECT_EQ((*answer)[74], 0);
    EXPECT_EQ(device.ip[0], 10);
}
