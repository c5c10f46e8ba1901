// Runs once when the mission starts.
private _patrols = ["alpha", "bravo", "charlie"];
{
	private _group = createGroup west;
	_group setGroupId [_x];
	_group setBehaviour "SAFE";
	_group setSpeedMode "LIMITED";
} forEach _patrols;
hint "Harbour patrol started.";
