#include "package/block_stream.h"

#include "package/sdk.h"

#include "CpuArch.h"
#include "Lzma2Dec.h"
#include "LzmaDec.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UInt32 kCopy = 0;
constexpr UInt32 kLzma2 = 0x21;
constexpr UInt32 kLzma = 0x30101;

// What the SDK's own whole-block decoding looks at per call.
constexpr size_t kLookSize = 1 << 18;

bool ReadFolder(const CSzAr& db, UInt32 folder, CSzFolder* f)
{
    CSzData sd;
    sd.Data = db.CodersData + db.FoCodersOffsets[folder];
    sd.Size = db.FoCodersOffsets[folder + 1] - db.FoCodersOffsets[folder];
    return SzGetNextFolderItem(f, &sd) == SZ_OK && sd.Size == 0;
}

}  // namespace

struct BlockStream::Decoders {
    CLzmaDec lzma;
    CLzma2Dec lzma2;
    bool lzmaMade = false;
    bool lzma2Made = false;
    Decoders()
    {
        LzmaDec_CONSTRUCT(&lzma)
        Lzma2Dec_CONSTRUCT(&lzma2)
    }
    ~Decoders()
    {
        if (lzmaMade)
            LzmaDec_Free(&lzma, &kHeap);
        if (lzma2Made)
            Lzma2Dec_Free(&lzma2, &kHeap);
    }
};

bool BlockStream::Streamable(const CSzAr& db, UInt32 folder)
{
    CSzFolder f;
    if (folder >= db.NumFolders || !ReadFolder(db, folder, &f))
        return false;
    if (f.NumCoders != 1 || f.NumPackStreams != 1 || f.NumBonds != 0 || f.UnpackStream != 0 ||
        f.Coders[0].NumStreams != 1)
        return false;
    const CSzCoderInfo& coder = f.Coders[0];
    return (coder.MethodID == kCopy && coder.PropsSize == 0) || (coder.MethodID == kLzma2 && coder.PropsSize == 1) ||
           (coder.MethodID == kLzma && coder.PropsSize == LZMA_PROPS_SIZE);
}

BlockStream::BlockStream(const CSzArEx& db, UInt32 folder, ILookInStreamPtr stream)
    : db_(db), folder_(folder), stream_(stream)
{
}

BlockStream::~BlockStream() = default;

SRes BlockStream::Begin()
{
    const CSzAr& ar = db_.db;
    CSzFolder f;
    if (!Streamable(ar, folder_) || !ReadFolder(ar, folder_, &f))
        return SZ_ERROR_UNSUPPORTED;
    method_ = f.Coders[0].MethodID;
    props_ = ar.CodersData + ar.FoCodersOffsets[folder_] + f.Coders[0].PropsOffset;
    propsSize_ = f.Coders[0].PropsSize;
    const UInt32 pack = ar.FoStartPackStreamIndex[folder_];
    packLeft_ = ar.PackPositions[pack + 1] - ar.PackPositions[pack];
    unpackLeft_ = SzAr_GetFolderUnpackSize(&ar, folder_);
    crc_ = CRC_INIT_VAL;
    status_ = LZMA_STATUS_NOT_SPECIFIED;
    if (method_ == kCopy && packLeft_ != unpackLeft_)
        return SZ_ERROR_DATA;
    const SRes seek = LookInStream_SeekTo(stream_, db_.dataPos + ar.PackPositions[pack]);
    if (seek != SZ_OK)
        return seek;
    decoders_ = std::make_unique<Decoders>();
    // The dictionary need not be larger than the block: the decoder never
    // looks back further than what it has given out.
    const uint64_t needed = std::max<uint64_t>(unpackLeft_, 1 << 12);
    if (method_ == kLzma) {
        Byte props[LZMA_PROPS_SIZE];
        std::memcpy(props, props_, sizeof(props));
        const UInt32 dictionary = GetUi32(props + 1);
        if (dictionary > needed)
            SetUi32(props + 1, static_cast<UInt32>(needed));
        const SRes made = LzmaDec_Allocate(&decoders_->lzma, props, LZMA_PROPS_SIZE, &kHeap);
        if (made != SZ_OK)
            return made;
        decoders_->lzmaMade = true;
        LzmaDec_Init(&decoders_->lzma);
    } else if (method_ == kLzma2) {
        Byte prop = props_[0];
        if (prop > 40)
            return SZ_ERROR_UNSUPPORTED;
        for (Byte smaller = 0; smaller < prop; ++smaller) {
            if ((static_cast<uint64_t>(2 | (smaller & 1)) << (smaller / 2 + 11)) >= needed) {
                prop = smaller;
                break;
            }
        }
        const SRes made = Lzma2Dec_Allocate(&decoders_->lzma2, prop, &kHeap);
        if (made != SZ_OK)
            return made;
        decoders_->lzma2Made = true;
        Lzma2Dec_Init(&decoders_->lzma2);
    }
    return SZ_OK;
}

SRes BlockStream::Read(Byte* dest, size_t* size)
{
    const size_t want = static_cast<size_t>(std::min<uint64_t>(*size, unpackLeft_));
    *size = 0;
    if (!decoders_)
        return SZ_ERROR_FAIL;
    size_t done = 0;
    while (done < want) {
        const void* in = nullptr;
        size_t inSize = static_cast<size_t>(std::min<uint64_t>(kLookSize, packLeft_));
        SRes res = ILookInStream_Look(stream_, &in, &inSize);
        if (res != SZ_OK)
            return res;
        SizeT outSize = want - done;
        SizeT inUsed = inSize;
        if (method_ == kCopy) {
            outSize = std::min<SizeT>(outSize, inSize);
            std::memcpy(dest + done, in, outSize);
            inUsed = outSize;
        } else {
            // The block's last bytes are asked for to its end, so that the
            // coder's end is checked with them.
            const ELzmaFinishMode mode = done + outSize == unpackLeft_ ? LZMA_FINISH_END : LZMA_FINISH_ANY;
            ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
            res = method_ == kLzma
                      ? LzmaDec_DecodeToBuf(&decoders_->lzma, dest + done, &outSize, static_cast<const Byte*>(in),
                                            &inUsed, mode, &status)
                      : Lzma2Dec_DecodeToBuf(&decoders_->lzma2, dest + done, &outSize, static_cast<const Byte*>(in),
                                             &inUsed, mode, &status);
            status_ = status;
            if (res != SZ_OK)
                return res;
        }
        res = ILookInStream_Skip(stream_, inUsed);
        if (res != SZ_OK)
            return res;
        packLeft_ -= inUsed;
        if (SzBitWithVals_Check(&db_.db.FolderCRCs, folder_))
            crc_ = CrcUpdate(crc_, dest + done, outSize);
        done += outSize;
        // Packed bytes that end, or a coder that ends, before the block does.
        if (outSize == 0 && (inUsed == 0 || status_ == LZMA_STATUS_FINISHED_WITH_MARK))
            return SZ_ERROR_DATA;
    }
    unpackLeft_ -= done;
    *size = done;
    return SZ_OK;
}

SRes BlockStream::Finish()
{
    if (!decoders_ || unpackLeft_ != 0)
        return SZ_ERROR_FAIL;
    if (method_ != kCopy) {
        // The coder may still hold its end mark in the packed bytes left.
        while (status_ != LZMA_STATUS_FINISHED_WITH_MARK) {
            const void* in = nullptr;
            size_t inSize = static_cast<size_t>(std::min<uint64_t>(kLookSize, packLeft_));
            SRes res = ILookInStream_Look(stream_, &in, &inSize);
            if (res != SZ_OK)
                return res;
            SizeT outSize = 0;
            SizeT inUsed = inSize;
            ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
            Byte none = 0;
            res = method_ == kLzma ? LzmaDec_DecodeToBuf(&decoders_->lzma, &none, &outSize,
                                                         static_cast<const Byte*>(in), &inUsed, LZMA_FINISH_END,
                                                         &status)
                                   : Lzma2Dec_DecodeToBuf(&decoders_->lzma2, &none, &outSize,
                                                          static_cast<const Byte*>(in), &inUsed, LZMA_FINISH_END,
                                                          &status);
            if (res != SZ_OK)
                return res;
            status_ = status;
            res = ILookInStream_Skip(stream_, inUsed);
            if (res != SZ_OK)
                return res;
            packLeft_ -= inUsed;
            if (inUsed == 0)
                break;
        }
        // LZMA may end without a mark once its bytes are all there; LZMA2 always has one.
        const bool ended = status_ == LZMA_STATUS_FINISHED_WITH_MARK ||
                           (method_ == kLzma && status_ == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK);
        if (!ended)
            return SZ_ERROR_DATA;
    }
    if (packLeft_ != 0)
        return SZ_ERROR_DATA;
    if (SzBitWithVals_Check(&db_.db.FolderCRCs, folder_) && CRC_GET_DIGEST(crc_) != db_.db.FolderCRCs.Vals[folder_])
        return SZ_ERROR_CRC;
    return SZ_OK;
}
