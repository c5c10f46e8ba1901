// Runs once when the demo starts.
private _names = ["red", "green", "blue"];
{
	private _item = [_x, 0];
	_item set [1, count _x];
	systemChat format ["%1 has %2 letters", _x, _item select 1];
} forEach _names;
hint "Demo started.";
