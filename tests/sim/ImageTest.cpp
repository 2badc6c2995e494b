// Images and the mask as they cross the wire: auto-calibration captures served
// by groups with partial resends, alignment frames on 0x84, mask upload in
// fragments and download by parts.

#include "RawHost.h"

#include <algorithm>
#include <numeric>

namespace tl::sim::test {
namespace {

using namespace tl::codec;

struct FetchResult
{
    std::vector<uint8_t> image = std::vector<uint8_t>(kAcImageBytes, 0);
    int resendRequests = 0;
    int rounds = 0;           // groups that needed at least one resend
    bool ok = true;
};

// A minimal host side of the group/resend exchange: it asks for each group,
// places the pieces, and asks for the missing runs until the group is whole.
// A module mounted upright (a lens other than the short-throw ones): it sends
// what its sensor sees unless told to reverse.
ModuleVariant uprightModule()
{
    ModuleVariant v = ModuleVariant::blank("A");
    v.lens = 0;
    return v;
}

FetchResult fetchImage(RawHost &host, uint8_t kind)
{
    FetchResult res;
    std::vector<bool> got(kAcPieces, false);
    auto place = [&](const Rx &rx, int first, int last) {
        ImagePiece piece;
        if (parseImagePiece(rx.view(), piece) != PieceError::None) {
            res.ok = false;
            return;
        }
        if (piece.index < first || piece.index > last)
            return;
        if (!placePiece(piece, res.image.data(), res.image.size()))
            res.ok = false;
        got[static_cast<size_t>(piece.index)] = true;
    };
    for (int g = 0; g <= kAcGroups && res.ok; ++g) {
        const auto req = encodeAcSendImg(kind, static_cast<uint8_t>(g));
        host.send(CMD_AC_SENDIMG, req.data(), 2);
        for (;;) {
            const Rx rx = host.read();
            if (rx.rc != 0) {
                res.ok = false;
                return res;
            }
            if (rx.code() == DAT_AC_IMGEND)
                break;
            if (rx.code() == DAT_AC_IMAGE)
                place(rx, 0, kAcPieces - 1);
        }
        if (g == kAcGroups)
            break;
        bool resent = false;
        for (auto runs = missingRuns(got, g); !runs.empty(); runs = missingRuns(got, g)) {
            resent = true;
            for (const PieceRun &run : runs) {
                const auto p = encodeAcSendImgPart(kind, run.first, run.last);
                host.send(CMD_AC_SENDIMG_PART, p.data(), 12);
                ++res.resendRequests;
                for (;;) {
                    const Rx rx = host.read();
                    if (rx.rc != 0) {
                        res.ok = false;
                        return res;
                    }
                    if (rx.code() == DAT_AC_IMAGE_PART_END)
                        break;
                    if (rx.code() == DAT_AC_IMAGE_PART)
                        place(rx, run.first, run.last);
                }
            }
        }
        res.rounds += resent ? 1 : 0;
    }
    return res;
}

class ImageTest : public SimTest
{
};

TEST_F(ImageTest, EachCaptureEndsWithItsResultAfterTheCaptureTime)
{
    EmulatedBus bus;
    auto m = bus.plug(uprightModule());
    RawHost host(bus);
    ASSERT_TRUE(host.open());

    const auto black = blackStartPayload(3, 15);
    qint64 t0 = Clock::nowMs();
    host.send(CMD_AC_BLACK_START, black.data(), 3);
    EXPECT_EQ(host.read().code(), RES_AC_BLACK_END);
    EXPECT_GE(Clock::nowMs() - t0, m->variant().timing.captureMs);
    host.sendI32(CMD_AC_WHITE_START, 420);
    EXPECT_EQ(host.read().code(), RES_AC_WHITE_END);
    host.sendI32(CMD_AC_PATTERN_START, 380);
    EXPECT_EQ(host.read().code(), RES_AC_PATTERN_END);

    EXPECT_EQ(m->servedImage(kImageBlack), TestPatternSource::captureFor(kImageBlack));
    EXPECT_EQ(m->servedImage(kImagePattern), TestPatternSource::captureFor(kImagePattern));
    EXPECT_NE(m->servedImage(kImageWhite), m->servedImage(kImageBlack));
}

TEST_F(ImageTest, GroupCarriesItsTwentyFourPiecesThenTheEnd)
{
    EmulatedBus bus;
    bus.plug(uprightModule());
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    const std::vector<uint8_t> img = TestPatternSource::captureFor(kImageWhite);

    const auto req = encodeAcSendImg(kImageWhite, 5);
    host.send(CMD_AC_SENDIMG, req.data(), 2);
    for (int i = 0; i < kGroupPieces; ++i) {
        const Rx rx = host.read();
        ASSERT_EQ(rx.code(), DAT_AC_IMAGE);
        ImagePiece piece;
        ASSERT_EQ(parseImagePiece(rx.view(), piece), PieceError::None);
        EXPECT_EQ(piece.index, 5 * 24 + i);
        EXPECT_EQ(piece.totalSize, kAcImageBytes);
        EXPECT_EQ(piece.dataLen, i == 23 ? 112 : 496);
        EXPECT_TRUE(std::equal(piece.data, piece.data + piece.dataLen, img.begin() + pieceOffset(piece.index)));
    }
    EXPECT_EQ(host.read().code(), DAT_AC_IMGEND);

    // Group 80 finishes an image: the end alone.
    const auto last = encodeAcSendImg(kImageWhite, 80);
    host.send(CMD_AC_SENDIMG, last.data(), 2);
    EXPECT_EQ(host.read().code(), DAT_AC_IMGEND);
    EXPECT_EQ(host.read(0x83, 100).rc, LIBUSB_ERROR_TIMEOUT);
}

TEST_F(ImageTest, WholeImageArrivesIdenticalAndReversedWhenAsked)
{
    EmulatedBus bus;
    auto m = bus.plug(uprightModule());
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    FetchResult r = fetchImage(host, kImagePattern);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.resendRequests, 0);
    EXPECT_EQ(r.image, TestPatternSource::captureFor(kImagePattern));
    EXPECT_FALSE(m->servesTurned());

    // Reversed: turned by 180 degrees (first row last, each row right to left).
    host.sendI32(CMD_SET_IMAGE_REVERSE, 1);
    const auto black = blackStartPayload(1, 15);
    host.send(CMD_AC_BLACK_START, black.data(), 3);
    ASSERT_EQ(host.read().code(), RES_AC_BLACK_END);
    r = fetchImage(host, kImageBlack);
    ASSERT_TRUE(r.ok);
    const std::vector<uint8_t> upright = TestPatternSource::captureFor(kImageBlack);
    EXPECT_EQ(r.image[0], upright[kAcImageBytes - 1]);
    EXPECT_EQ(r.image[kAcImageWidth - 1], upright[kAcImageBytes - kAcImageWidth]);
    EXPECT_TRUE(std::equal(r.image.begin(), r.image.end(), upright.rbegin()));
    EXPECT_EQ(m->servedImage(kImageBlack), r.image);
    EXPECT_TRUE(m->servesTurned());
}

// A short-throw module (lens codes 1 to 3) has its sensor built in turned: until
// the host asks for reversal its pictures come upside down, and reversal brings
// them upright. Any other lens is the other way round.
TEST_F(ImageTest, MountingDecidesWhatReversalDoes)
{
    const std::vector<uint8_t> upright = TestPatternSource::captureFor(kImageWhite);
    const std::vector<uint8_t> frameUpright = TestPatternSource::frameFor(0);
    for (const int lens : { 0, 1, 2, 3, 4 }) {
        SCOPED_TRACE("lens " + std::to_string(lens));
        const bool mountedTurned = lens >= 1 && lens <= 3;
        for (const int reverse : { 0, 1 }) {
            SCOPED_TRACE("reverse " + std::to_string(reverse));
            EmulatedBus bus;
            ModuleVariant v = ModuleVariant::blank("A");
            v.lens = static_cast<uint8_t>(lens);
            auto m = bus.plug(v);
            RawHost host(bus);
            ASSERT_TRUE(host.open());
            host.sendI32(CMD_SET_IMAGE_REVERSE, reverse);
            const bool turned = (reverse != 0) != mountedTurned;
            EXPECT_EQ(m->servesTurned(), turned);
            EXPECT_EQ(m->imageReverse(), reverse != 0);
            host.sendI32(CMD_AC_WHITE_START, 420);
            ASSERT_EQ(host.read().code(), RES_AC_WHITE_END);
            const FetchResult r = fetchImage(host, kImageWhite);
            ASSERT_TRUE(r.ok);
            if (turned)
                EXPECT_TRUE(std::equal(r.image.begin(), r.image.end(), upright.rbegin()));
            else
                EXPECT_EQ(r.image, upright);

            host.send(CMD_SENDFRM_MONO);
            std::vector<uint8_t> frame(kFrameBytes, 0);
            for (;;) {
                const Rx rx = host.read(0x84);
                ASSERT_EQ(rx.rc, 0);
                if (rx.code() == DAT_IMGEND)
                    break;
                ImagePiece piece;
                ASSERT_EQ(parseImagePiece(rx.view(), piece), PieceError::None);
                ASSERT_TRUE(placePiece(piece, frame.data(), frame.size()));
            }
            if (turned)
                EXPECT_TRUE(std::equal(frame.begin(), frame.end(), frameUpright.rbegin()));
            else
                EXPECT_EQ(frame, frameUpright);
        }
    }
}

TEST_F(ImageTest, ChosenPiecesLostGiveRunsThatPartialResendsFill)
{
    EmulatedBus bus;
    auto m = bus.plug(uprightModule());
    const int g = 7;
    FaultPlan plan;
    for (int d : {3, 4, 5, 17}) {
        PacketRule drop;
        drop.code = DAT_AC_IMAGE;
        drop.imageKind = kImageWhite;
        drop.index = g * 24 + d;
        plan.packets.push_back(drop);
    }
    m->setFaults(plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());

    const auto req = encodeAcSendImg(kImageWhite, g);
    host.send(CMD_AC_SENDIMG, req.data(), 2);
    std::vector<bool> got(kAcPieces, false);
    std::vector<Rx> pieces;
    const Rx end = host.readUntil(DAT_AC_IMGEND, 0x83, 1000, &pieces);
    ASSERT_EQ(end.rc, 0);
    EXPECT_EQ(pieces.size(), 20u);
    for (const Rx &rx : pieces) {
        ImagePiece p;
        ASSERT_EQ(parseImagePiece(rx.view(), p), PieceError::None);
        got[static_cast<size_t>(p.index)] = true;
    }
    const auto runs = missingRuns(got, g);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], (PieceRun{g * 24 + 3, g * 24 + 5}));
    EXPECT_EQ(runs[1], (PieceRun{g * 24 + 17, g * 24 + 17}));
    EXPECT_EQ(missingCount(runs), 4);

    // The rules were for one sending each: the resend carries every piece of the run.
    const auto part = encodeAcSendImgPart(kImageWhite, runs[0].first, runs[0].last);
    host.send(CMD_AC_SENDIMG_PART, part.data(), 12);
    std::vector<Rx> resent;
    ASSERT_EQ(host.readUntil(DAT_AC_IMAGE_PART_END, 0x83, 1000, &resent).rc, 0);
    ASSERT_EQ(resent.size(), 3u);
    for (size_t i = 0; i < resent.size(); ++i) {
        EXPECT_EQ(resent[i].code(), DAT_AC_IMAGE_PART);
        EXPECT_EQ(resent[i].payloadI32(0), g * 24 + 3 + static_cast<int>(i));
    }
    EXPECT_EQ(m->stats().partialResends, 1);
    EXPECT_EQ(m->stats().piecesResent, 3);
    EXPECT_EQ(m->stats().packetsDropped, 4);
}

TEST_F(ImageTest, PartialResendIsBoundedToTheImage)
{
    EmulatedBus bus;
    bus.plug(uprightModule());
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    const auto wide = encodeAcSendImgPart(kImageBlack, 1915, 5000);
    host.send(CMD_AC_SENDIMG_PART, wide.data(), 12);
    std::vector<Rx> pieces;
    ASSERT_EQ(host.readUntil(DAT_AC_IMAGE_PART_END, 0x83, 1000, &pieces).rc, 0);
    ASSERT_EQ(pieces.size(), 5u);
    EXPECT_EQ(pieces.back().payloadI32(0), 1919);

    const auto empty = encodeAcSendImgPart(kImageBlack, 10, 9);
    host.send(CMD_AC_SENDIMG_PART, empty.data(), 12);
    EXPECT_EQ(host.read().code(), DAT_AC_IMAGE_PART_END);
}

TEST_F(ImageTest, SeededLossIsRepeatableAndRecoveredByResends)
{
    auto run = [](uint64_t seed, ModuleStats *stats) {
        EmulatedBus bus;
        auto m = bus.plug(uprightModule());
        FaultPlan plan;
        plan.pieceLoss = 0.05;
        plan.seed = seed;
        m->setFaults(plan);
        RawHost host(bus);
        EXPECT_TRUE(host.open());
        FetchResult r = fetchImage(host, kImageWhite);
        *stats = m->stats();
        return r;
    };
    ModuleStats s1, s2, s3;
    const FetchResult a = run(7, &s1);
    const FetchResult b = run(7, &s2);
    const FetchResult c = run(8, &s3);
    ASSERT_TRUE(a.ok && b.ok && c.ok);
    EXPECT_EQ(a.image, TestPatternSource::captureFor(kImageWhite));
    EXPECT_EQ(c.image, a.image);
    // About 5 % of 1,920 pieces (plus losses among the resent ones).
    EXPECT_GT(s1.piecesLost, 40);
    EXPECT_LT(s1.piecesLost, 200);
    EXPECT_EQ(s1.piecesLost, s2.piecesLost);
    EXPECT_EQ(a.resendRequests, b.resendRequests);
    EXPECT_EQ(a.rounds, b.rounds);
    EXPECT_NE(s1.piecesLost, s3.piecesLost);
    EXPECT_EQ(s1.partialResends, a.resendRequests);
}

class FixedSource : public ImageSource
{
public:
    std::vector<uint8_t> capture(const CaptureContext &ctx) override
    {
        lastExposure = ctx.exposure;
        lastArgument = ctx.argument;
        return std::vector<uint8_t>(100, static_cast<uint8_t>(ctx.kind));  // short: padded by the module
    }
    std::vector<uint8_t> alignmentFrame(const CaptureContext &ctx) override
    {
        return std::vector<uint8_t>(kFrameBytes, static_cast<uint8_t>(0x40 + ctx.frameNumber));
    }
    uint8_t lastExposure = 0;
    int lastArgument = 0;
};

TEST_F(ImageTest, SuppliedSourceSeesExposureAndShortImagesArePadded)
{
    EmulatedBus bus;
    auto m = bus.plug(uprightModule());
    auto source = std::make_shared<FixedSource>();
    m->setImageSource(source);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    const auto black = blackStartPayload(1, 15);
    host.send(CMD_AC_BLACK_START, black.data(), 3);
    ASSERT_EQ(host.read().code(), RES_AC_BLACK_END);
    EXPECT_EQ(source->lastExposure, 0x70);
    host.sendI32(CMD_AC_WHITE_START, 1234);
    ASSERT_EQ(host.read().code(), RES_AC_WHITE_END);
    EXPECT_EQ(source->lastArgument, 1234);

    const std::vector<uint8_t> img = m->servedImage(kImageBlack);
    ASSERT_EQ(img.size(), static_cast<size_t>(kAcImageBytes));
    EXPECT_EQ(img[99], kImageBlack);
    EXPECT_EQ(img[100], 0);
}

TEST_F(ImageTest, AlignmentFrameComesOnItsOwnEndpoint)
{
    EmulatedBus bus;
    auto m = bus.plug(uprightModule());
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    for (uint64_t frame = 0; frame < 2; ++frame) {
        host.send(CMD_SENDFRM_MONO);
        std::vector<uint8_t> img(kFrameBytes, 0);
        std::vector<Rx> pieces;
        ASSERT_EQ(host.readUntil(DAT_IMGEND, 0x84, 1000, &pieces).rc, 0);
        ASSERT_EQ(pieces.size(), 480u);
        for (const Rx &rx : pieces) {
            ASSERT_EQ(rx.code(), DAT_IMG);
            ImagePiece p;
            ASSERT_EQ(parseImagePiece(rx.view(), p), PieceError::None);
            EXPECT_EQ(p.totalSize, kFrameBytes);
            ASSERT_TRUE(placePiece(p, img.data(), img.size()));
        }
        EXPECT_EQ(img, TestPatternSource::frameFor(frame));
    }
    EXPECT_EQ(host.read(0x83, 100).rc, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(m->stats().framesServed, 2);
}

TEST_F(ImageTest, MaskUploadedInFragmentsIsDownloadedByParts)
{
    EmulatedBus bus;
    auto m = bus.plug(uprightModule());
    RawHost host(bus);
    ASSERT_TRUE(host.open());

    std::vector<uint8_t> mask(kMaskSize);
    for (size_t i = 0; i < mask.size(); ++i)
        mask[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    mask[kMaskEnableOffset] = 1;
    const auto fragments = buildFragments(CMD_SET_MASK, mask.data(), kMaskSize);
    ASSERT_EQ(fragments.size(), 58u);
    for (const PacketBuffer &f : fragments)
        ASSERT_EQ(host.write(f), 512);
    EXPECT_EQ(m->mask(), mask);
    EXPECT_EQ(m->stats().maskUploads, 1);

    std::vector<uint8_t> down(kMaskSize, 0);
    int received = 0;
    for (int part = 0; part < kMaskParts; ++part) {
        const uint8_t idx = static_cast<uint8_t>(part);
        host.send(CMD_GET_MASK, &idx, 1);
        const Rx rx = host.read();
        ASSERT_EQ(rx.code(), DAT_MASK);
        MaskPart mp;
        ASSERT_TRUE(parseMaskPart(rx.view(), mp));
        ASSERT_EQ(mp.index, part);
        std::copy(mp.data, mp.data + mp.dataLen, down.begin() + maskPartOffset(part));
        received += mp.dataLen;
    }
    EXPECT_EQ(received, kMaskSize);
    EXPECT_EQ(down, mask);

    const uint8_t beyond = 58;
    host.send(CMD_GET_MASK, &beyond, 1);
    const Rx nak = host.read();
    EXPECT_EQ(nak.code(), RES_NAK);
    EXPECT_EQ(nak.payloadI32(0), CMD_GET_MASK);
}

TEST_F(ImageTest, IncompleteMaskUploadKeepsTheStoredMask)
{
    EmulatedBus bus;
    ModuleVariant v = uprightModule();
    v.mask.assign(kMaskSize, 0x11);
    auto m = bus.plug(v);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    const std::vector<uint8_t> mask(kMaskSize, 0x22);
    const auto fragments = buildFragments(CMD_SET_MASK, mask.data(), kMaskSize);
    for (size_t i = 0; i < fragments.size(); ++i)
        if (i != 30)
            host.write(fragments[i]);
    EXPECT_EQ(m->mask(), v.mask);
    EXPECT_EQ(m->stats().maskUploads, 0);

    // A fragment index beyond the record is refused, not written.
    PacketBuffer bad = fragments[5];
    bad[8] = 200;
    host.write(bad);
    EXPECT_EQ(m->stats().malformedCommands, 1);

    // A fresh upload starting at index 0 completes.
    for (const PacketBuffer &f : fragments)
        host.write(f);
    EXPECT_EQ(m->mask(), mask);
}

} // namespace
} // namespace tl::sim::test
