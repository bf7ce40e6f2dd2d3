"""What every table of the release tools' tests shares: a row is what a function is given (a
tuple: its arguments) and what it must give back."""
import unittest

class Tables(unittest.TestCase):
    def call(self, function, given):
        return function(*given if isinstance(given, tuple) else (given,))

    def equal(self, function, table):
        """Each row: what FUNCTION is given, then what it returns."""
        for given, expected in table:
            with self.subTest(given=given):
                self.assertEqual(self.call(function, given), expected)

    def rows(self, function, table):
        """Each row: what FUNCTION is given, then a fragment its result holds (a text), the whole
        result (anything else), or None."""
        for given, expected in table:
            with self.subTest(given=given):
                result = self.call(function, given)
                if expected is None:
                    self.assertFalse(result)
                elif isinstance(expected, str):
                    self.assertIn(expected, result or "")
                else:
                    self.assertEqual(result, expected)

def refusal(function, refused):
    """FUNCTION, giving back what it raises of the kind REFUSED as "refused: " and its text."""
    def call(*given):
        try:
            return function(*given)
        except refused as error:
            return f"refused: {error}"
    return call
