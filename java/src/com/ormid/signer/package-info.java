/**
 * The Java interface of the signer library: GOST electronic signatures with keys on tokens, on
 * confirmation tokens and in the CSP's containers.
 *
 * <p>{@link com.ormid.signer.Signer} opens sessions; {@link com.ormid.signer.Session} works in one;
 * {@link com.ormid.signer.EnvInfo} and {@link com.ormid.signer.Utils} need none. The native library is
 * loaded by {@link com.ormid.signer.NativeLibrary} on first use. Failures are raised as
 * {@link com.ormid.signer.SignerException}, a {@link java.lang.RuntimeException} whose message is a
 * catalogue text in the chosen language and which carries the text's code, its kind, the tries left and
 * the value the crypto means returned.
 */
package com.ormid.signer;
