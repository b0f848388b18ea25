"""The password digest, pinned to what `zor_nosql_cli --digest` prints for the same passwords."""

import pytest

from zor_nosql import digest
from zor_nosql.digest import block_digest
from zor_nosql.mersenne_twister import MT19937, MT19937_64


def test_generators_match_the_standard_engines():
    # The 10000th output of a default-seeded std::mt19937 and std::mt19937_64.
    for generator, expected in ((MT19937(), 4123659995), (MT19937_64(), 9981545732273789042)):
        for _ in range(9999):
            generator.draw()
        assert generator.draw() == expected


@pytest.mark.parametrize("data, expected", [
    (b"abc", "6E956E1D3A06C80EE6DE7A6ED7E41736"),
    (b"\xc8", "7AB4ABB2AC2D1995D733C08604FFFFF5"),  # seeded from a negative char
    (b"a" * 22, "D95B56386FA6AAEED95B56386FA6AAEE"),
    (b"", ""),
])
def test_block_digest(data, expected):
    assert block_digest(data) == expected


@pytest.mark.parametrize("password, expected", [
    ("", "12DAEE6B9AF8627206D9EF869649329A"),
    ("admin", "EDCBA2F3DE21944288ECE6B1E7D71558"),
    ("secret", "70247C2DC10A095E73EC7788C60C00FC"),
    ("p\u00e4ssw\u00f6rd \u20ac", "BE1B2E28B3DE46DA8D6DED6A64A6F2C0"),  # UTF-8: bytes above 0x7f
    ("x" * 150, "A2254C364FDBC3BB1AA7B089137E8A9E"),  # several blocks
])
def test_password_digest_matches_the_cli(password, expected):
    assert digest(password) == expected
    assert digest(password.encode()) == expected
