#include "common/Sha256.h"

#include <gtest/gtest.h>

namespace {

using common::Sha256Hex;

TEST(Sha256, StandardVectorsAtEveryPaddingBoundary) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits in the block, padding takes a second one.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopq"
         "rlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [message, digest] : cases)
        EXPECT_EQ(Sha256Hex(message), digest) << message.size() << " bytes";

    // Fed in uneven pieces, the digest is the same.
    common::Sha256 pieces;
    const std::string million(1000000, 'a');
    for (std::size_t at = 0, step = 1; at < million.size(); at += step, step = step * 3 % 97 + 1)
        pieces.Update(std::string_view(million).substr(at, step));
    std::string hex;
    for (const auto byte : pieces.Finish()) {
        static constexpr char Digits[] = "0123456789abcdef";
        hex += Digits[byte >> 4];
        hex += Digits[byte & 15];
    }
    EXPECT_EQ(hex, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

} // namespace
