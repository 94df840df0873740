#include "jpeg2000_writer.h"

#include <gtest/gtest.h>
#include <openjpeg.h>

#include <span>

int32_t sampleAt(uint32_t c, uint32_t i, uint32_t j) {
    return static_cast<int32_t>(((i * (3 + c) + j * (5 + 2 * c)) ^ (i * j >> 3)) & 0xFF);
}

Bytes encode(const Picture& p) {
    opj_image_cmptparm_t params[3] = {};
    for (uint32_t c = 0; c < 3; ++c) {
        const uint32_t step = c == 0 ? 1 : p.chromaStep;
        params[c] = {step, step, 0, 0, (p.x0 + step - 1) / step, (p.y0 + step - 1) / step, 8, 0, 0};
        params[c].w = (p.x0 + p.width + step - 1) / step - params[c].x0;
        params[c].h = (p.y0 + p.height + step - 1) / step - params[c].y0;
    }
    opj_image_t* image =
        opj_image_create(3, params, p.chromaStep > 1 ? OPJ_CLRSPC_SYCC : OPJ_CLRSPC_SRGB);
    image->x0 = p.x0;
    image->y0 = p.y0;
    image->x1 = p.x0 + p.width;
    image->y1 = p.y0 + p.height;
    for (const opj_image_comp_t& comp : std::span(image->comps, 3))
        for (uint32_t j = 0; j < comp.h; ++j)
            for (uint32_t i = 0; i < comp.w; ++i)
                comp.data[j * comp.w + i] =
                    sampleAt(&comp - image->comps, comp.x0 + i, comp.y0 + j);
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.numresolution = p.resolutions;
    parameters.image_offset_x0 = static_cast<int>(p.x0);
    parameters.image_offset_y0 = static_cast<int>(p.y0);
    parameters.tile_size_on = p.tileWidth > 0;
    parameters.cp_tdx = p.tileWidth;
    parameters.cp_tdy = p.tileHeight;
    Bytes bytes;
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, &bytes, nullptr);
    opj_stream_set_write_function(stream, [](void* data, OPJ_SIZE_T size, void* user) {
        static_cast<Bytes*>(user)->insert(static_cast<Bytes*>(user)->end(),
                                          static_cast<uint8_t*>(data),
                                          static_cast<uint8_t*>(data) + size);
        return size;
    });
    EXPECT_TRUE(opj_setup_encoder(codec, &parameters, image) &&
                opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                opj_end_compress(codec, stream))
        << p.name;
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    return bytes;
}
