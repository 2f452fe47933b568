// The SHA-1 of an image with one bit flipped, for many flips: shared prefix, parallel suffixes.
#include "core/doctor/flipped_sha1.h"

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

namespace chipsight::doctor {

FlippedSha1s flippedSha1s(std::span<const std::uint8_t> image, std::span<const OneBitHit> hits,
                          unsigned threads) {
    FlippedSha1s out;
    out.digests.resize(hits.size());
    using Ctx = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
    Ctx run(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!run || EVP_DigestInit_ex(run.get(), EVP_sha1(), nullptr) != 1) return out;
    // In the order of their bytes: the pass over the prefix meets each hit's block in turn, and
    // the first states it leaves have the longest suffixes, which are best started first.
    std::vector<std::size_t> order(hits.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return hits[a].byte < hits[b].byte; });
    const auto blockOf = [&](std::size_t j) { return hits[order[j]].byte & ~std::uint64_t(63); };
    for (std::size_t j = 0; j < order.size(); ++j) out.suffixBytes += image.size() - blockOf(j);

    // The state at each hit's block, empty when it could not be made; a state is handed over
    // once `ready` counts past it.
    std::vector<Ctx> states;
    states.reserve(order.size());
    for (std::size_t j = 0; j < order.size(); ++j) states.emplace_back(nullptr, EVP_MD_CTX_free);
    std::atomic<std::size_t> ready{0}, next{0};
    const auto finish = [&] {
        for (std::size_t j; (j = next.fetch_add(1)) < order.size();) {
            for (std::size_t r = ready.load(); r <= j; r = ready.load()) ready.wait(r);
            EVP_MD_CTX* const one = states[j].get();
            if (!one) continue;
            const OneBitHit& hit = hits[order[j]];
            const std::uint64_t block = blockOf(j), byte = hit.byte;
            const std::uint8_t flipped = image[byte] ^ std::uint8_t(1u << hit.bit);
            std::array<std::uint8_t, 20> digest{};
            unsigned length = 0;
            if (EVP_DigestUpdate(one, image.data() + block, byte - block) == 1 &&
                EVP_DigestUpdate(one, &flipped, 1) == 1 &&
                EVP_DigestUpdate(one, image.data() + byte + 1, image.size() - byte - 1) == 1 &&
                EVP_DigestFinal_ex(one, digest.data(), &length) == 1 && length == 20)
                out.digests[order[j]] = digest;
        }
    };
    std::thread helper;
    if (threads > 1 && order.size() > 1) {
        try {
            helper = std::thread(finish);
        } catch (const std::system_error&) {
            // No second thread: this one finishes every state after its pass.
        }
    }
    std::uint64_t at = 0;
    bool failed = false;
    for (std::size_t j = 0; j < order.size(); ++j) {
        const std::uint64_t block = blockOf(j);
        failed = failed ||
                 (block > at && EVP_DigestUpdate(run.get(), image.data() + at, block - at) != 1);
        at = std::max(at, block);
        if (!failed) {
            Ctx state(EVP_MD_CTX_new(), EVP_MD_CTX_free);
            if (state && EVP_MD_CTX_copy_ex(state.get(), run.get()) == 1)
                states[j] = std::move(state);
        }
        ready.store(j + 1);
        ready.notify_all();
    }
    finish();
    if (helper.joinable()) helper.join();
    return out;
}

}  // namespace chipsight::doctor
