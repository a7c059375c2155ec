// The GCM paper's test cases, shared by the AES-GCM tests and the AEAD tests.
#pragma once

namespace test_support {

struct GcmVector {
    int number;
    const char* key;
    const char* iv;
    const char* aad;
    const char* plain;
    const char* cipher;
    const char* tag;
};

// The GCM paper's test cases (McGrew and Viega, "The Galois/Counter Mode of
// Operation"): 1-6 AES-128, 7-12 AES-192, 13-18 AES-256; in each group empty
// and one-block plaintext under the zero key, then 64 bytes, 60 bytes with
// 20 bytes of additional data, and the same with an 8-byte and a 60-byte IV.
#define GCM_K "feffe9928665731c6d6a8f9467308308"
#define GCM_P60                                                                                           \
    "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525" \
    "b16aedf5aa0de657ba637b39"
#define GCM_P64 GCM_P60 "1aafd255"
#define GCM_AAD "feedfacedeadbeeffeedfacedeadbeefabaddad2"
#define GCM_IV60                                                                                          \
    "9313225df88406e555909c5aff5269aa6a7a9538534f7da1e4c303d2a318a728c3c0c95156809539fcf0e2429a6b5254" \
    "16aedbf5a0de6a57a637b39b"

inline const GcmVector kGcmVectors[] = {
    {1, "00000000000000000000000000000000", "000000000000000000000000", "", "", "",
     "58e2fccefa7e3061367f1d57a4e7455a"},
    {2, "00000000000000000000000000000000", "000000000000000000000000", "", "00000000000000000000000000000000",
     "0388dace60b6a392f328c2b971b2fe78", "ab6e47d42cec13bdf53a67b21257bddf"},
    {3, GCM_K, "cafebabefacedbaddecaf888", "", GCM_P64,
     "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa05"
     "1ba30b396a0aac973d58e091473f5985",
     "4d5c2af327cd64a62cf35abd2ba6fab4"},
    {4, GCM_K, "cafebabefacedbaddecaf888", GCM_AAD, GCM_P60,
     "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa05"
     "1ba30b396a0aac973d58e091",
     "5bc94fbc3221a5db94fae95ae7121a47"},
    {5, GCM_K, "cafebabefacedbad", GCM_AAD, GCM_P60,
     "61353b4c2806934a777ff51fa22a4755699b2a714fcdc6f83766e5f97b6c742373806900e49f24b22b097544d4896b42"
     "4989b5e1ebac0f07c23f4598",
     "3612d2e79e3b0785561be14aaca2fccb"},
    {6, GCM_K, GCM_IV60, GCM_AAD, GCM_P60,
     "8ce24998625615b603a033aca13fb894be9112a5c3a211a8ba262a3cca7e2ca701e4a9a4fba43c90ccdcb281d48c7c6f"
     "d62875d2aca417034c34aee5",
     "619cc5aefffe0bfa462af43c1699d050"},
    {7, "000000000000000000000000000000000000000000000000", "000000000000000000000000", "", "", "",
     "cd33b28ac773f74ba00ed1f312572435"},
    {8, "000000000000000000000000000000000000000000000000", "000000000000000000000000", "",
     "00000000000000000000000000000000", "98e7247c07f0fe411c267e4384b0f600", "2ff58d80033927ab8ef4d4587514f0fb"},
    {9, GCM_K "feffe9928665731c", "cafebabefacedbaddecaf888", "", GCM_P64,
     "3980ca0b3c00e841eb06fac4872a2757859e1ceaa6efd984628593b40ca1e19c7d773d00c144c525ac619d18c84a3f47"
     "18e2448b2fe324d9ccda2710acade256",
     "9924a7c8587336bfb118024db8674a14"},
    {10, GCM_K "feffe9928665731c", "cafebabefacedbaddecaf888", GCM_AAD, GCM_P60,
     "3980ca0b3c00e841eb06fac4872a2757859e1ceaa6efd984628593b40ca1e19c7d773d00c144c525ac619d18c84a3f47"
     "18e2448b2fe324d9ccda2710",
     "2519498e80f1478f37ba55bd6d27618c"},
    {11, GCM_K "feffe9928665731c", "cafebabefacedbad", GCM_AAD, GCM_P60,
     "0f10f599ae14a154ed24b36e25324db8c566632ef2bbb34f8347280fc4507057fddc29df9a471f75c66541d4d4dad1c9"
     "e93a19a58e8b473fa0f062f7",
     "65dcc57fcf623a24094fcca40d3533f8"},
    {12, GCM_K "feffe9928665731c", GCM_IV60, GCM_AAD, GCM_P60,
     "d27e88681ce3243c4830165a8fdcf9ff1de9a1d8e6b447ef6ef7b79828666e4581e79012af34ddd9e2f037589b292db3"
     "e67c036745fa22e7e9b7373b",
     "dcf566ff291c25bbb8568fc3d376a6d9"},
    {13, "0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000", "", "",
     "", "530f8afbc74536b9a963b4f1c4cb738b"},
    {14, "0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000", "",
     "00000000000000000000000000000000", "cea7403d4d606b6e074ec5d3baf39d18", "d0d1c8a799996bf0265b98b5d48ab919"},
    {15, GCM_K GCM_K, "cafebabefacedbaddecaf888", "", GCM_P64,
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838"
     "c5f61e6393ba7a0abcc9f662898015ad",
     "b094dac5d93471bdec1a502270e3cc6c"},
    {16, GCM_K GCM_K, "cafebabefacedbaddecaf888", GCM_AAD, GCM_P60,
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838"
     "c5f61e6393ba7a0abcc9f662",
     "76fc6ece0f4e1768cddf8853bb2d551b"},
    {17, GCM_K GCM_K, "cafebabefacedbad", GCM_AAD, GCM_P60,
     "c3762df1ca787d32ae47c13bf19844cbaf1ae14d0b976afac52ff7d79bba9de0feb582d33934a4f0954cc2363bc73f78"
     "62ac430e64abe499f47c9b1f",
     "3a337dbf46a792c45e454913fe2ea8f2"},
    {18, GCM_K GCM_K, GCM_IV60, GCM_AAD, GCM_P60,
     "5a8def2f0c9e53f1f75d7853659e2a20eeb2b22aafde6419a058ab4f6f746bf40fc0c3b780f244452da3ebf1c5d82cde"
     "a2418997200ef82e44ae7e3f",
     "a44a8266ee1c8eb0c8b5d4cf5ae9f19a"},
};

#undef GCM_K
#undef GCM_P60
#undef GCM_P64
#undef GCM_AAD
#undef GCM_IV60

} // namespace test_support
