/* A measurement aid, not part of the product: times the post-quantum key exchange's pieces as
 * the Windows build's libgcrypt does them (sntrup761 key pair, encapsulation, decapsulation),
 * and 1,500 requests for 4 random bytes (what one sntrup761 key pair asks for), with libgcrypt's
 * default random generator or, given any argument, its DRBG (what the product selects).
 *   P=build/libssh/x86_64-w64-mingw32
 *   x86_64-w64-mingw32-gcc -O2 -I$P/include -o build/bench/kem_timing.exe \
 *       bench/experiments/kem_timing.c $P/lib/libgcrypt.a $P/lib/libgpg-error.a -lws2_32
 *   WINEDEBUG=-all /usr/lib/wine/wine64 build/bench/kem_timing.exe [drbg]
 * (i686: build/libssh/i686-w64-mingw32 and i686-w64-mingw32-gcc, run with wine in a 32-bit
 * prefix.)
 */
#include <stdio.h>
#include <windows.h>
#include <gcrypt.h>

static double Now(void) {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart * 1e3 / (double)frequency.QuadPart;
}

int main(int argc, char** argv) {
    (void)argv;
    if (argc > 1) gcry_control(GCRYCTL_SET_PREFERRED_RNG_TYPE, GCRY_RNG_TYPE_FIPS);
    gcry_check_version(NULL);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    unsigned char pk[GCRY_KEM_SNTRUP761_PUBKEY_LEN], sk[GCRY_KEM_SNTRUP761_SECKEY_LEN];
    unsigned char ct[GCRY_KEM_SNTRUP761_ENCAPS_LEN], k1[32], k2[32], b[4];
    double t = Now();
    gcry_randomize(b, sizeof b, GCRY_STRONG_RANDOM);
    printf("first random request %.1f ms\n", Now() - t);
    for (int i = 0; i < 4; ++i) {
        const double a = Now();
        gcry_kem_keypair(GCRY_KEM_SNTRUP761, pk, sizeof pk, sk, sizeof sk);
        const double b1 = Now();
        gcry_kem_encap(GCRY_KEM_SNTRUP761, pk, sizeof pk, ct, sizeof ct, k1, sizeof k1, NULL, 0);
        const double c = Now();
        gcry_kem_decap(GCRY_KEM_SNTRUP761, sk, sizeof sk, ct, sizeof ct, k2, sizeof k2, NULL, 0);
        printf("key pair %.1f ms, encapsulation %.1f ms, decapsulation %.1f ms\n", b1 - a, c - b1, Now() - c);
    }
    t = Now();
    for (int i = 0; i < 1500; ++i) gcry_randomize(b, sizeof b, GCRY_STRONG_RANDOM);
    printf("1500 requests for 4 random bytes %.1f ms\n", Now() - t);
    return 0;
}
