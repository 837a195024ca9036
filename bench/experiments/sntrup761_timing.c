/* A measurement aid, not part of the product: times libssh's own sntrup761 (the one the native
 * build uses; OpenSSL gives the random bytes, as in libssh) against the static library.
 *   gcc -O2 -o build/bench/sntrup761_timing bench/experiments/sntrup761_timing.c \
 *       build/libssh/linux/lib/libssh.a -lcrypto -lpthread
 *   build/bench/sntrup761_timing
 */
#include <stdint.h>
#include <stdio.h>
#include <time.h>
#include <openssl/rand.h>

typedef void sntrup761_random_func(void* ctx, size_t length, uint8_t* dst);
void sntrup761_keypair(unsigned char* pk, unsigned char* sk, void* ctx, sntrup761_random_func* random);
void sntrup761_enc(unsigned char* c, unsigned char* k, const unsigned char* pk, void* ctx, sntrup761_random_func* random);
void sntrup761_dec(unsigned char* k, const unsigned char* c, const unsigned char* sk);

static void Random(void* ctx, size_t length, uint8_t* dst) {
    (void)ctx;
    RAND_priv_bytes(dst, (int)length);
}

static double Ms(struct timespec a, struct timespec b) {
    return (double)(b.tv_sec - a.tv_sec) * 1e3 + (double)(b.tv_nsec - a.tv_nsec) / 1e6;
}

int main(void) {
    unsigned char pk[1158], sk[1763], c[1039], k1[32], k2[32];
    for (int i = 0; i < 5; ++i) {
        struct timespec a, b, d, e;
        clock_gettime(CLOCK_MONOTONIC, &a);
        sntrup761_keypair(pk, sk, NULL, Random);
        clock_gettime(CLOCK_MONOTONIC, &b);
        sntrup761_enc(c, k1, pk, NULL, Random);
        clock_gettime(CLOCK_MONOTONIC, &d);
        sntrup761_dec(k2, c, sk);
        clock_gettime(CLOCK_MONOTONIC, &e);
        printf("key pair %.2f ms, encapsulation %.2f ms, decapsulation %.2f ms\n", Ms(a, b), Ms(b, d), Ms(d, e));
    }
    return 0;
}
