"""Checks the Authenticode signature that osslsigncode extracted from a release executable
(PKCS#7, DER) and writes it again, encoded anew, for attaching to the rebuilt executable:

    /usr/bin/python3 tools/release_signature.py SIGNATURE REENCODED

It must be well-formed with nothing after it, have one signer and no nested signature, and
carry no unauthenticated attribute but a time stamp. Prints the certificate that signed,
found by the signer's issuer and serial number, with its SHA-256 fingerprint; exits 1 with
the reason on standard error where the signature is not as it must be."""

import hashlib
import sys

from asn1crypto import cms, core

NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
TIME_STAMPS = {"1.2.840.113549.1.9.6", "1.3.6.1.4.1.311.3.3.1"}


def main(source, target):
    with open(source, "rb") as signature:
        data = signature.read()
    try:
        info = cms.ContentInfo.load(data, strict=True)
        # Parses the certificates, so that a malformed one fails here; Authenticode's own
        # structures, which this reader does not know, are compared as bytes instead.
        info["content"]["certificates"].native  # pylint: disable=pointless-statement
    except ValueError as error:
        sys.exit(f"the signature is not well-formed: {error}")
    if info["content_type"].native != "signed_data":
        sys.exit("the signature is not PKCS#7 signed data")
    signed = info["content"]
    if len(signed["signer_infos"]) != 1:
        sys.exit(f"the signature has {len(signed['signer_infos'])} signers, not one")
    signer = signed["signer_infos"][0]
    unsigned = signer["unsigned_attrs"]
    for attribute in [] if isinstance(unsigned, core.Void) else unsigned:
        kind = attribute["type"].dotted
        if kind == NESTED_SIGNATURE:
            sys.exit("a second signature is nested in the signature")
        if kind not in TIME_STAMPS:
            sys.exit(f"the signature carries an unauthenticated attribute ({kind}) that is "
                     "not a time stamp")
    if signer["sid"].name != "issuer_and_serial_number":
        sys.exit("the signer is not named by issuer and serial number")
    issuer = signer["sid"].chosen["issuer"]
    serial = signer["sid"].chosen["serial_number"].native
    certificates = [choice.chosen for choice in signed["certificates"] or []
                    if choice.name == "certificate"]
    certificate = next((c for c in certificates
                        if c.issuer == issuer and c.serial_number == serial), None)
    if certificate is None:
        sys.exit("the certificate that signed is not in the signature")
    fingerprint = hashlib.sha256(certificate.dump()).hexdigest().upper()
    print(f"signer: {certificate.subject.human_friendly}")
    print(f"issued by: {issuer.human_friendly}, serial number {serial:X}")
    print(f"SHA-256 fingerprint: {':'.join(fingerprint[i:i + 2] for i in range(0, 64, 2))}")
    with open(target, "wb") as reencoded:
        reencoded.write(info.dump(force=True))


if __name__ == "__main__":
    main(*sys.argv[1:])
